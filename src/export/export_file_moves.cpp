#include "export/export_file_moves.h"

#include "export/video_exporter.h"
#include "platform/uuid.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <unistd.h>

namespace fotivela {

namespace {

std::string errnoDetail(int code, const std::string& fallback)
{
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        return "No queda espacio libre en el disco.";
    case EACCES:
    case EPERM:
        return "No hay permiso para escribir en la carpeta de destino.";
    case EROFS:
        return "La carpeta de destino es de solo lectura.";
    case ENOENT:
    case ENOTDIR:
        return "La carpeta de destino no existe.";
    case EIO:
        return "Error de lectura o escritura en el disco.";
    default:
        return fallback;
    }
}

} // namespace

std::string fileErrorDetail(const std::error_code& error)
{
    if (error.category() == std::generic_category() || error.category() == std::system_category())
        return errnoDetail(error.value(), error.message());
    return error.message();
}

std::string ffmpegErrorDetail(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return averror < 0 ? errnoDetail(AVUNERROR(averror), text) : std::string(text);
}

void checkDestinationIsWritable(const std::filesystem::path& destination)
{
    std::error_code error;
    const auto status = std::filesystem::status(destination, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        throw VideoExporterError::cannotReplaceOutput("En el destino hay una carpeta u otro elemento que no es un archivo.");
    std::filesystem::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    if (!std::filesystem::is_directory(folder, error))
        throw VideoExporterError::failedToFinish(errnoDetail(ENOENT, {}));
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw VideoExporterError::failedToFinish(errnoDetail(errno, std::error_code(errno, std::generic_category()).message()));
}

void moveFileIntoPlace(const std::filesystem::path& finished, const std::filesystem::path& destination)
{
    std::error_code error;
    std::filesystem::rename(finished, destination, error);
    if (!error)
        return;
    if (error != std::errc::cross_device_link) {
        if (error == std::errc::is_a_directory || error == std::errc::directory_not_empty)
            throw VideoExporterError::cannotReplaceOutput(fileErrorDetail(error));
        throw VideoExporterError::failedToFinish(fileErrorDetail(error));
    }

    // Built by appending: GCC 12 warns falsely on `"." + std::string` in optimised builds.
    std::string stagedName = ".";
    stagedName += destination.filename().string();
    stagedName += '-';
    stagedName += Uuid::random().toString();
    stagedName += ".part";
    const std::filesystem::path staged = destination.parent_path() / stagedName;
    std::filesystem::copy_file(finished, staged, std::filesystem::copy_options::overwrite_existing, error);
    if (!error)
        std::filesystem::rename(staged, destination, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(staged, ignored);
        throw VideoExporterError::failedToFinish(fileErrorDetail(error));
    }
    std::filesystem::remove(finished, error);
}

} // namespace fotivela
