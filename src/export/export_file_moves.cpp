#include "export/export_file_moves.h"

#include "export/video_exporter.h"
#include "model/project_file_layout.h"
#include "platform/descriptor_copy.h"
#include "platform/log.h"
#include "platform/uuid.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela {

namespace {

std::string errnoDetail(int code, const std::string& fallback)
{
    switch (code) {
    case ENOSPC:
        return "No queda espacio libre en el disco.";
    case EDQUOT:
        return "Se ha superado la cuota de espacio en el disco.";
    case EFBIG:
        return "El archivo es demasiado grande para el disco de destino (FAT32 admite como máximo 4 GB por archivo).";
    case EACCES:
    case EPERM:
        return "No hay permiso para escribir en la carpeta de destino.";
    case EROFS:
        return "La carpeta de destino es de solo lectura.";
    case ENOENT:
    case ENOTDIR:
        return "La carpeta de destino no existe.";
    case ENAMETOOLONG:
        return "El nombre o la ruta del archivo es demasiado largo.";
    case EMFILE:
    case ENFILE:
        return "Hay demasiados archivos abiertos.";
    case ENOMEM:
        return "No hay memoria suficiente.";
    case ENODEV:
    case ENXIO:
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case ETIMEDOUT:
        return "El disco de destino ya no está disponible.";
    case EIO:
        return "Error de lectura o escritura en el disco.";
    default:
        return fallback;
    }
}

// Copies a file's bytes to a new file, keeping the reason of a failure (the library's copy
// reports every failed write, a full disk included, as a generic input/output error).
std::error_code copyContents(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const auto failure = [] { return std::error_code(errno, std::generic_category()); };
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failure();
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        const auto error = failure();
        ::close(in);
        return error;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, info.st_mode & 0777);
    if (out < 0) {
        const auto error = failure();
        ::close(in);
        return error;
    }
    std::error_code error = copyDescriptorBytes(in, out);
    if (!error && ::fsync(out) != 0)
        error = failure();
    if (::close(out) != 0 && !error)
        error = failure();
    ::close(in);
    return error;
}

constexpr const char* unknownSystemError = "El sistema no pudo escribir el archivo.";

} // namespace

std::string fileErrorDetail(const std::error_code& error)
{
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        logLine("Fotivela export file error: " + error.message());
        return errnoDetail(error.value(), unknownSystemError);
    }
    return error.message();
}

std::string ffmpegErrorDetail(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    // System errors arrive as small negated errno values; FFmpeg's own are four-letter tags.
    if (averror < 0 && AVUNERROR(averror) < 4096) {
        logLine(std::string("Fotivela export system error: ") + text);
        return errnoDetail(AVUNERROR(averror), unknownSystemError);
    }
    return text;
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
        throw VideoExporterError::failedToFinish(errnoDetail(errno, unknownSystemError));
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
    // Shortened so that a destination name near the file-name limit still has a staged copy.
    stagedName += ProjectFileLayout::shortenedNameComponent(destination.filename().string());
    stagedName += '-';
    stagedName += Uuid::random().toString();
    stagedName += ".part";
    const std::filesystem::path staged = destination.parent_path() / stagedName;
    error = copyContents(finished, staged);
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
