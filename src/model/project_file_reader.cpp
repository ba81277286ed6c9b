#include "model/project_file_reader.h"

#include "model/project_json.h"
#include "platform/regular_file.h"

#include <cerrno>

#include <unistd.h>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

std::string quotedName(const fs::path& url)
{
    return "\xe2\x80\x9c" + url.filename().string() + "\xe2\x80\x9d";
}

[[noreturn]] void failToOpen(const fs::path& url, RegularFile::Refusal refusal)
{
    const std::string name = quotedName(url);
    if (refusal == RegularFile::Refusal::missing)
        throw ProjectFileReadError("No se ha podido abrir el archivo " + name + " porque no existe.");
    if (refusal == RegularFile::Refusal::notPermitted)
        throw ProjectFileReadError("No se ha podido abrir el archivo " + name + " porque no tienes permiso para verlo.");
    throw ProjectFileReadError("No se ha podido abrir el archivo " + name + ".");
}

[[noreturn]] void failAsTooLarge()
{
    throw ProjectFileReadError("No se ha podido abrir el proyecto: el archivo ocupa más de "
                               + std::to_string(maximumProjectFileBytes >> 20) + " MB, mucho más que cualquier proyecto.");
}

} // namespace

std::string readProjectFileText(const fs::path& url)
{
    RegularFile::Refusal refusal = RegularFile::Refusal::other;
    const std::optional<RegularFile> file = RegularFile::open(url, &refusal);
    if (!file)
        failToOpen(url, refusal);
    if (file->size() > maximumProjectFileBytes)
        failAsTooLarge();
    // The size is only what it was at opening: the read stops one byte past the bound,
    // however much the file grows meanwhile.
    std::string text(static_cast<std::size_t>(file->size()) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            if (text.size() > maximumProjectFileBytes)
                failAsTooLarge();
            text.resize(std::min<std::size_t>(text.size() * 2, maximumProjectFileBytes + 1));
        }
        const ssize_t count = ::read(file->descriptor(), text.data() + filled, text.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            failToOpen(url, RegularFile::Refusal::other);
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    text.resize(filled);
    return text;
}

FotivelaProject readProjectFile(const fs::path& url)
{
    return decodeProject(readProjectFileText(url));
}

} // namespace fotivela
