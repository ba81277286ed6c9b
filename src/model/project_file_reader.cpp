#include "model/project_file_reader.h"

#include "model/project_json.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void failToOpen(const fs::path& url, int errorNumber)
{
    const std::string name = "\xe2\x80\x9c" + url.filename().string() + "\xe2\x80\x9d";
    if (errorNumber == ENOENT || errorNumber == ENOTDIR)
        throw ProjectFileReadError("No se ha podido abrir el archivo " + name + " porque no existe.");
    if (errorNumber == EACCES || errorNumber == EPERM)
        throw ProjectFileReadError("No se ha podido abrir el archivo " + name + " porque no tienes permiso para verlo.");
    throw ProjectFileReadError("No se ha podido abrir el archivo " + name + ".");
}

} // namespace

FotivelaProject readProjectFile(const fs::path& url)
{
    std::error_code error;
    const fs::file_status status = fs::status(url, error);
    if (error)
        failToOpen(url, error.value());
    if (!fs::is_regular_file(status))
        failToOpen(url, fs::exists(status) ? EISDIR : ENOENT);
    errno = 0;
    std::ifstream in(url, std::ios::binary);
    if (!in)
        failToOpen(url, errno);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        failToOpen(url, EIO);
    return decodeProject(text);
}

} // namespace fotivela
