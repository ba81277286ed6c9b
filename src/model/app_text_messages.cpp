#include "model/app_text.h"

#include <array>

namespace fotivela::AppText {

namespace {

// Status, error and dialog texts. Messages built with numbers or names are translated piece by
// piece, so the pieces keep their blanks ("Ondas separadas listas: " + 4 + " activos, " ...).
constexpr AppTextPair rows[] = {
    // Project, relinking and packaging
    {"Nuevo video", "New video"},
    {"Analisis guardado en memoria; no se pudo actualizar el archivo", "Analysis kept in memory; the file could not be updated"},
    {"No encuentro algunos archivos originales", "Some original files cannot be found"},
    {"Indica la carpeta donde estan ahora las fotos o la musica para volver a enlazarlas.",
     "Choose the folder where the photos or the music are now to relink them."},
    {"Buscar carpeta", "Find folder"},
    {"Usar carpeta", "Use folder"},
    {"Crea una carpeta empaquetada con proyecto, previos y originales.",
     "Creates a packaged folder with the project, previews, and originals."},
    {"Buscar actualizaciones...", "Check for updates..."},
    {"Eliminar", "Delete"},
    {"Titulo inicial", "Opening title"},
    {"Titulo final", "Closing title"},
    {"Modo de sincronizacion desconocido: ", "Unknown sync mode: "},

    // Markers and song analysis
    {"Activar marcador", "Enable marker"},
    {"Sin musica importada.", "No music imported."},
    {"No se puede leer la cancion: el archivo no es audio o esta danado.",
     "The song cannot be read: the file is not audio or is damaged."},
    {"Analizando musica", "Analyzing music"},
    {"Analizando forma de onda...", "Analyzing waveform..."},
    {"Analizando instrumentos...", "Analyzing instruments..."},
    {"Recuperando analisis guardado...", "Restoring saved analysis..."},
    {"Actualizando ondas separadas...", "Updating separated waveforms..."},
    {"Auto ritmo v2 usando ataques de la cancion", "Auto rhythm v2 using the song's attacks"},
    {"Se eliminaran las ", "The "},
    {" marcas manuales que has creado.", " manual markers you created will be deleted."},
    {"Pendiente", "Pending"},
    {"Mezcla original", "Original mix"},
    {"Todo", "All"},
    {"Clap / caja", "Clap / snare"},
    {"Platillo / hats", "Cymbal / hats"},
    {"Caja", "Snare"},
    {"Platos", "Cymbals"},

    // Stem separation
    {"Separando instrumentos...", "Separating instruments..."},
    {"Separando instrumentos... ", "Separating instruments... "},
    {"Separando instrumentos... terminando", "Separating instruments... finishing"},
    {" aprox.", " approx."},
    {"Ondas separadas listas: ", "Separated waveforms ready: "},
    {" activos, ", " active, "},
    {" preparados", " prepared"},
    {"Ondas separadas recuperadas: ", "Separated waveforms restored: "},
    {" instrumentos", " instruments"},
    {"Stems reales preparados con Demucs; bateria usa filtros internos para bombo/caja/platillos",
     "Real stems prepared with Demucs; drums use internal filters for kick/snare/cymbals"},
    {"Stems reales recuperados de cache Demucs", "Real stems restored from the Demucs cache"},
    {"Demucs termino, pero faltan stems necesarios. V2 usa la mezcla original.",
     "Demucs finished, but required stems are missing. V2 uses the original mix."},
    {"Faltan instrumentos", "Instruments missing"},
    {"No se pudo preparar Demucs: ", "Could not prepare Demucs: "},
    {"No se pudo preparar el audio mono para separar instrumentos.", "Could not prepare the mono audio for instrument separation."},
    {"No se pudo separar con Demucs (", "Could not separate with Demucs ("},
    {"). Reintenta o revisa el motor de ondas separadas.", "). Try again or check the separated waveform engine."},
    {"No se pudo separar con Demucs. Revisa que el motor de ondas separadas esté disponible.",
     "Could not separate with Demucs. Check that the separated waveform engine is available."},

    // Export
    {"No hay fotos para exportar.", "There are no photos to export."},
    {"Preparando codificador", "Preparing encoder"},
    {"No se pudo cargar la imagen ", "Could not load the image "},
    {"No se encuentra el archivo de musica del proyecto.", "The project's music file cannot be found."},
    {"No se pudo crear el codificador de video.", "Could not create the video encoder."},
    {"No se pudo crear un buffer de video.", "Could not create a video buffer."},
    {"No se pudo finalizar la exportacion.", "Could not finish the export."},
    {"No se pudo anadir la musica al MP4.", "Could not add the music to the MP4."},
    {"No se pudo sustituir el MP4 anterior.", "Could not replace the previous MP4."},
    {"No se encontro el MP4 final generado.", "The final generated MP4 was not found."},
    {"No se encontro una pista de audio valida.", "No valid audio track was found."},
    {"No se encontro una pista de video valida.", "No valid video track was found."},
    {"No se pudo leer la pista de audio original.", "Could not read the original audio track."},
    {"No se pudo leer la pista de video codificada.", "Could not read the encoded video track."},
    {"No se pudo escribir la pista de audio en el MP4.", "Could not write the audio track to the MP4."},
    {"No se pudo escribir la pista de video en el MP4.", "Could not write the video track to the MP4."},
    {"No se pudo preparar la sesion de exportacion de audio.", "Could not prepare the audio export session."},
    {"No hay preset compatible para mezclar audio.", "There is no compatible preset for mixing audio."},
    {"La duracion de las diapositivas no es valida.", "The slide durations are not valid."},
    {"La velocidad de fotogramas del proyecto no es valida.", "The project's frame rate is not valid."},
    {"No queda espacio libre en el disco.", "There is no free space left on the disk."},
    {"No hay permiso para escribir en la carpeta de destino.", "There is no permission to write to the destination folder."},
    {"La carpeta de destino es de solo lectura.", "The destination folder is read-only."},
    {"La carpeta de destino no existe.", "The destination folder does not exist."},
    {"Error de lectura o escritura en el disco.", "Disk read or write error."},
    {"En el destino hay una carpeta u otro elemento que no es un archivo.",
     "The destination is a folder or another item that is not a file."},

    // Account session
    {"Usuario", "User"},
    {"Sesión iniciada.", "Signed in."},
    {"Sesión iniciada con Google.", "Signed in with Google."},
    {"Sesión cerrada.", "Signed out."},
    {"Cuenta creada.", "Account created."},
    {"Perfil guardado.", "Profile saved."},
    {"Contraseña actualizada.", "Password updated."},
    {"Si existe una cuenta con ese email, recibirás un enlace para crear una nueva contraseña.",
     "If an account exists for that email, you will receive a link to create a new password."},
    {"Completa el acceso con Google en el navegador.", "Finish signing in with Google in your browser."},
    {"No se ha podido completar el acceso con Google.", "Could not complete the Google sign-in."},
    {"El acceso con Google todavía no está configurado en Orvelant.", "Google sign-in is not set up in Orvelant yet."},
    {"La sesión de Google ha caducado. Inténtalo otra vez.", "The Google session has expired. Please try again."},
    {"Email o contraseña incorrectos.", "Incorrect email or password."},
    {"Ese email ya tiene cuenta.", "That email already has an account."},
    {"Esta cuenta no puede acceder.", "This account cannot sign in."},
    {"Necesitas iniciar sesión.", "You need to sign in."},
    {"No se ha podido conectar con Orvelant.", "Could not connect to Orvelant."},
    {"No se ha podido leer la respuesta del servidor.", "Could not read the server's response."},
    {"No se ha podido completar la operación.", "The operation could not be completed."},
    {"El servidor ha tardado demasiado en responder. Inténtalo otra vez.", "The server took too long to respond. Please try again."},
    {"El servidor ha tenido un error interno. Revisa la configuracion de Orvelant.",
     "The server had an internal error. Check the Orvelant configuration."},
    {"La base de datos no está disponible.", "The database is not available."},

    // Credits and purchases
    {"Checkout abierto. Cuando pagues, pulsa Confirmar compra.", "Checkout opened. Once you have paid, press Confirm purchase."},
    {"Checkout abierto. Después refresca créditos.", "Checkout opened. Then refresh your credits."},
    {"Compra confirmada.", "Purchase confirmed."},
    {"Factura abierta.", "Invoice opened."},
    {"No hay una compra pendiente.", "There is no pending purchase."},
    {"No se ha podido confirmar la compra todavía.", "The purchase could not be confirmed yet."},
    {"No tienes créditos suficientes.", "You do not have enough credits."},
    {"La cantidad de créditos no es válida.", "The credit amount is not valid."},
    {"La petición de créditos no es válida.", "The credit request is not valid."},
    {"La compra no es válida.", "The purchase is not valid."},
    {"La factura no está disponible ahora mismo.", "The invoice is not available right now."},
    {"Stripe no está configurado en el servidor.", "Stripe is not set up on the server."},
    {"Stripe no ha devuelto URL de pago.", "Stripe returned no payment URL."},
    {"Stripe no ha podido crear la compra.", "Stripe could not create the purchase."},
    {"Stripe todavía no marca el pago como completado.", "Stripe does not show the payment as completed yet."},

    // Cloud AI
    {"Letra generada. ", "Lyrics generated. "},
    {"Canción generada. ", "Song generated. "},
    {" créditos usados.", " credits used."},
    {"Letra generada en la nube.", "Lyrics generated in the cloud."},
    {"Canción generada en la nube.", "Song generated in the cloud."},
    {"Necesitas añadir fotos antes de generar la letra.", "You need to add photos before generating the lyrics."},
    {"Necesitas tener una letra antes de generar la canción.", "You need lyrics before generating the song."},
    {"Necesitas indicar un estilo musical para generar una canción instrumental.",
     "You need to give a music style to generate an instrumental song."},
    {"No se ha podido crear la hoja de contacto para la IA.", "Could not create the contact sheet for the AI."},
    {"La nube no ha devuelto audio.", "The cloud returned no audio."},
    {"La generación en la nube no se ha podido completar.", "The cloud generation could not be completed."},
    {"La IA en la nube todavía no está configurada en Orvelant.", "Cloud AI is not set up in Orvelant yet."},
    {"El proveedor de IA no está disponible ahora mismo.", "The AI provider is not available right now."},
    {"La petición de IA no es válida.", "The AI request is not valid."},
    {"Has abierto otro proyecto mientras se generaba; el resultado no se ha aplicado a este proyecto.",
     "You opened another project during the generation; the result was not applied to this project."},
    // Menu bar.
    {"Archivo", "File"},
    {"Salir", "Quit"},
    {"Ayuda", "Help"},
};

} // namespace

std::span<const AppTextPair> messageTexts()
{
    return rows;
}

} // namespace fotivela::AppText
