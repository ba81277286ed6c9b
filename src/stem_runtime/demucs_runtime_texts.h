#pragma once

// The runtime's Spanish failure descriptions; they follow "No se pudo preparar Demucs: ".
namespace fotivela::DemucsRuntimeTexts {

inline constexpr const char* packageMissing = "No se encuentra el paquete del motor de ondas separadas.";
inline constexpr const char* downloadFailed = "No se pudo descargar el motor de ondas separadas.";
inline constexpr const char* digestMismatch
    = "El paquete del motor de ondas separadas está dañado o no es la versión esperada.";
inline constexpr const char* archiveDamaged = "El paquete del motor de ondas separadas está incompleto o dañado.";
inline constexpr const char* unsafeEntry = "El paquete del motor de ondas separadas contiene rutas no permitidas.";
inline constexpr const char* manifestMismatch
    = "Los archivos del motor de ondas separadas no coinciden con su manifiesto.";
inline constexpr const char* wrongVersion = "El motor de ondas separadas no es la versión esperada.";
inline constexpr const char* diskFull = "No hay espacio en disco para instalar el motor de ondas separadas.";
inline constexpr const char* installFailed = "No se pudo instalar el motor de ondas separadas.";
inline constexpr const char* cancelled = "Se canceló la instalación del motor de ondas separadas.";

// Child processes.
inline constexpr const char* invalidProcessLimits = "Límites no válidos para el proceso del motor de ondas separadas.";
inline constexpr const char* processLaunchFailed = "No se pudo iniciar el proceso del motor de ondas separadas.";
inline constexpr const char* processTimedOut = "El proceso del motor de ondas separadas superó el tiempo límite.";
inline constexpr const char* processStopped = "Se detuvo el proceso del motor de ondas separadas.";

inline constexpr const char* all[] = {packageMissing, downloadFailed, digestMismatch, archiveDamaged, unsafeEntry,
    manifestMismatch, wrongVersion, diskFull, installFailed, cancelled, invalidProcessLimits, processLaunchFailed,
    processTimedOut, processStopped};

} // namespace fotivela::DemucsRuntimeTexts
