#include "model/project_packager.h"

#include "model/project_audio_resource_storage.h"
#include "model/project_file_layout.h"
#include "model/project_json.h"
#include "platform/atomic_file.h"
#include "platform/audio_decoder.h"
#include "platform/log.h"
#include "platform/photo_decoder.h"
#include "platform/regular_file.h"
#include "platform/text_trimming.h"
#include "platform/uuid.h"
#include "store/stem_source_preparation.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <set>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace fotivela::ProjectPackager {

namespace fs = std::filesystem;

namespace {

constexpr const char* photosFolder = "Originales/Fotos";
constexpr const char* musicFolder = "Originales/Musica";
constexpr const char* previewsFolder = "Previews";

std::string quoted(const fs::path& path)
{
    return "\xe2\x80\x9c" + path.filename().string() + "\xe2\x80\x9d";
}

void createFolder(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw ProjectPackagingError("No se ha podido crear la carpeta " + quoted(folder) + ".");
}

bool somethingAt(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found
        || (error && error != std::errc::no_such_file_or_directory);
}

// A name usable inside a package folder; a path without a file name still gets a copy.
std::string copyName(const fs::path& source, const char* fallback)
{
    const std::string name = source.filename().string();
    return name.find_first_not_of('.') == std::string::npos ? std::string(fallback) : name;
}

// The unique-name rule of the layout, also counting names handed out earlier in this run:
// a missing photo gets no copy, yet its slide points to the name, which nobody else may take.
fs::path reservedDestination(const std::string& fileName, const fs::path& folder, std::set<fs::path>& reserved)
{
    fs::path candidate = ProjectFileLayout::uniqueDestination(fileName, folder);
    if (reserved.contains(candidate)) {
        const std::size_t dot = fileName.rfind('.');
        const bool hasExtension = dot != std::string::npos && dot != 0 && dot + 1 < fileName.size();
        const std::string base = hasExtension ? fileName.substr(0, dot) : fileName;
        const std::string extension = hasExtension ? fileName.substr(dot) : std::string();
        for (std::uint64_t n = 2;; ++n) {
            candidate = folder / (base + "-" + std::to_string(n) + extension);
            if (!reserved.contains(candidate) && !somethingAt(candidate))
                break;
        }
    }
    reserved.insert(candidate);
    return candidate;
}

enum class Usable { photo, song };

// A file the program would use: a photo that reads as a picture, a song that decodes as audio.
bool isUsable(const std::shared_ptr<const RegularFile>& file, const fs::path& name, Usable kind)
{
    if (kind == Usable::photo)
        return PhotoDecoder::uprightSize(file->reopenPath()).isValid();
    try {
        AudioDecoder decoder(file, name);
        return true;
    } catch (const AudioDecoderError& error) {
        logLine("Fotivela package: " + error.detail());
        return false;
    }
}

// Copies when the source is there and usable; in every case the reference moves to the
// destination, so that the relinker can repair a missing file in the package later. A
// received project may name any file the user can read (a key, a password store) as its
// photo: only what the program can show or play goes into a package meant to be shared.
void copyIfPresent(const fs::path& source, const fs::path& destination, Usable kind, std::vector<fs::path>& leftOut)
{
    RegularFile::Refusal refusal = RegularFile::Refusal::other;
    std::optional<RegularFile> opened = RegularFile::open(source, &refusal);
    if (!opened) {
        if (refusal == RegularFile::Refusal::missing)
            return;
        leftOut.push_back(source);
        return;
    }
    const auto file = std::make_shared<const RegularFile>(std::move(*opened));
    if (!isUsable(file, source, kind)) {
        leftOut.push_back(source);
        return;
    }
    if (const std::error_code error = file->copyTo(destination)) {
        logLine("Fotivela package copy failed: " + source.string() + ": " + error.message());
        throw ProjectPackagingError("No se ha podido copiar " + quoted(source) + " en "
                                    + quoted(destination.parent_path()) + ".");
    }
}

bool sameFolder(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error);
}

// A real folder of this user: never one reached through a link, which may lead anywhere.
bool isOwnFolder(const fs::path& folder)
{
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// Only the previews of the packaged slides go in, each a regular file that reads as a picture: a
// received project's "Previews" may hold links to a key or a whole folder, or leftovers of killed
// writes. Each copy replaces the same slide's preview of an earlier package and nothing else, so
// whatever the destination held stays; a package made into the project's own folder keeps its previews.
void copyPreviews(const fs::path& source, const fs::path& packageFolder, const std::vector<Slide>& slides)
{
    const fs::path target = packageFolder / previewsFolder;
    if (!isOwnFolder(source) || sameFolder(source, target))
        return;
    std::error_code error;
    fs::create_directory(target, error);
    if (!isOwnFolder(target)) {
        logLine("Fotivela package previews not copied: " + target.string() + " is no folder of this user");
        return;
    }
    for (const Slide& slide : slides) {
        const std::string name = slide.id.toString() + ".jpg";
        RegularFile::Refusal refusal = RegularFile::Refusal::other;
        const std::optional<RegularFile> preview = RegularFile::open(source / name, &refusal, RegularFile::Links::refuse);
        if (!preview || !PhotoDecoder::uprightSize(preview->reopenPath()).isValid()) {
            if (preview || refusal != RegularFile::Refusal::missing)
                logLine("Fotivela package left out a preview that is no picture file: " + (source / name).string());
            continue;
        }
        const fs::path staging = target / ("." + Uuid::random().toString() + ".tmp");
        error = preview->copyTo(staging);
        if (!error && ::rename(staging.c_str(), (target / name).c_str()) != 0)
            error = std::error_code(errno, std::generic_category());
        if (error) {
            logLine("Fotivela package preview not copied: " + name + ": " + error.message());
            ::unlink(staging.c_str());
        }
    }
}

StemSeparationState pendingSeparation()
{
    StemSeparationState state;
    state.engine = StemSeparationEngine::fallbackMix;
    state.message = "Pendiente";
    return state;
}

void copyStems(AudioTrack& song, const fs::path& currentProjectURL, const fs::path& packageProjectURL)
{
    StemSeparationState& state = song.stemSeparation;
    if (state.engine != StemSeparationEngine::demucs)
        return;
    std::optional<fs::path> copied;
    if (state.cacheDirectory) {
        try {
            copied = ProjectAudioResourceStorage::copyOwnedStemDirectory(*state.cacheDirectory, currentProjectURL,
                                                                         packageProjectURL);
        } catch (const std::exception& failure) {
            logLine(std::string("Fotivela package stems not copied: ") + failure.what());
            throw ProjectPackagingError("No se ha podido copiar " + quoted(*state.cacheDirectory) + " en "
                                        + quoted(packageProjectURL.parent_path()) + ".");
        }
    }
    if (!copied) {
        state = pendingSeparation();
        return;
    }
    const fs::path old = *state.cacheDirectory;
    state.cacheDirectory = *copied;
    std::map<AudioStem, fs::path> stems;
    for (const auto& [stem, url] : state.stems) {
        if (std::optional<fs::path> moved = rebased(url, old, *copied))
            stems.emplace(stem, *moved);
    }
    state.stems = std::move(stems);
    std::map<AutoBeatInstrument, fs::path> previews;
    for (const auto& [instrument, url] : state.instrumentPreviewURLs) {
        if (std::optional<fs::path> moved = rebased(url, old, *copied))
            previews.emplace(instrument, *moved);
    }
    state.instrumentPreviewURLs = std::move(previews);
    state.sourceSignature = StemSourcePreparation::signature(song.url);
}

} // namespace

std::optional<fs::path> rebased(const fs::path& url, const fs::path& from, const fs::path& to)
{
    const fs::path u = ProjectAudioResourceStorage::standardized(url);
    const fs::path o = ProjectAudioResourceStorage::standardized(from);
    if (u == o)
        return to;
    const std::string prefix = o.string() + "/";
    const std::string path = u.string();
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
        return to / path.substr(prefix.size());
    return std::nullopt;
}

fs::path package(const FotivelaProject& project, const fs::path& destination, const std::string& packageName,
                 const std::optional<fs::path>& currentProjectURL, const std::optional<fs::path>& currentPreviewDirectory,
                 std::vector<fs::path>* leftOut)
{
    std::vector<fs::path> refused;
    const fs::path folder = destination;
    createFolder(folder);
    createFolder(folder / photosFolder);
    createFolder(folder / musicFolder);

    const std::string_view trimmed = trimmedWhitespaceAndNewlines(packageName);
    const std::string fileName = trimmed.empty() ? project.name : std::string(trimmed);
    const fs::path projectFile = folder
        / (ProjectFileLayout::safePathComponent(fileName) + "." + std::string(ProjectFileLayout::projectFileExtension));

    FotivelaProject copy = project;
    if (!trimmed.empty())
        copy.name = packageName;

    std::set<fs::path> reserved;
    for (Slide& slide : copy.slides) {
        const fs::path target = reservedDestination(copyName(slide.imageURL, "foto"), folder / photosFolder, reserved);
        copyIfPresent(slide.imageURL, target, Usable::photo, refused);
        slide.imageURL = target;
    }

    if (copy.audio) {
        AudioTrack& song = *copy.audio;
        bool generated = false;
        if (currentProjectURL) {
            const fs::path owned = ProjectAudioResourceStorage::projectDirectory(*currentProjectURL)
                / ProjectAudioResourceStorage::generatedMusicFolder;
            generated = ProjectAudioResourceStorage::isRegularOwnedFile(song.url, owned);
        }
        const fs::path songFolder = folder / (generated ? ProjectAudioResourceStorage::generatedMusicFolder : musicFolder);
        createFolder(songFolder);
        const fs::path target = reservedDestination(copyName(song.url, "musica"), songFolder, reserved);
        copyIfPresent(song.url, target, Usable::song, refused);
        song.url = target;
    }

    if (currentProjectURL && currentPreviewDirectory)
        copyPreviews(*currentPreviewDirectory, folder, copy.slides);

    if (currentProjectURL && copy.audio)
        copyStems(*copy.audio, *currentProjectURL, projectFile);

    try {
        atomicWriteFile(projectFile, encodeProject(copy));
    } catch (const std::exception& failure) {
        logLine(std::string("Fotivela package project file not written: ") + failure.what());
        throw ProjectPackagingError("No se ha podido guardar " + quoted(projectFile) + ".");
    }
    if (leftOut)
        *leftOut = std::move(refused);
    return projectFile;
}

} // namespace fotivela::ProjectPackager
