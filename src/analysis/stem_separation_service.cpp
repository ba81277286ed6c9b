#include "analysis/stem_separation_service.h"

#include "analysis/audio_analysis_cache_key.h"

#include "model/project_audio_resource_storage.h"
#include "model/separation_work_folder.h"
#include "platform/audio_converter.h"
#include "platform/audio_file_reader.h"
#include "platform/log.h"
#include "platform/regular_file.h"
#include "platform/uuid.h"
#include "stem_runtime/demucs_runtime_production_io.h"

#include <sys/stat.h>

#include <chrono>
#include <exception>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace fotivela::StemSeparationService {

namespace {

constexpr double childTimeoutSeconds = 5400;
constexpr std::size_t conversionOutputLimit = 1048576;
constexpr std::size_t separationOutputLimit = 65536;
constexpr std::size_t detailLimit = 1024;
constexpr std::size_t messageDetailLimit = 220;

constexpr const char* runtimeFailurePrefix = "No se pudo preparar Demucs: ";
constexpr const char* genericFailure =
    "No se pudo separar con Demucs. Revisa que el motor de ondas separadas esté disponible.";
constexpr const char* missingStemsAfterRun = "Demucs termino, pero faltan stems necesarios. V2 usa la mezcla original.";
constexpr const char* reusedMessage = "Stems reales recuperados de cache Demucs";
constexpr const char* preparedMessage =
    "Stems reales preparados con Demucs; bateria usa filtros internos para bombo/caja/platillos";
constexpr const char* monoFailureDetail = "No se pudo preparar el audio mono para separar instrumentos.";

// A failed step of the separation itself: the child's exit status (or -1) and what it said.
class StemSeparationFailure : public std::exception {
public:
    StemSeparationFailure(std::int64_t status, std::optional<std::string> detail)
        : m_status(status), m_detail(std::move(detail))
    {
    }
    const char* what() const noexcept override { return "stem separation failure"; }
    std::int64_t status() const { return m_status; }
    const std::optional<std::string>& detail() const { return m_detail; }

private:
    std::int64_t m_status;
    std::optional<std::string> m_detail;
};

// The first `count` characters (code points) of UTF-8 text; a cut never splits one.
std::string leadingCharacters(const std::string& text, std::size_t count)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (seen == count)
            return text.substr(0, i);
        ++seen;
    }
    return text;
}

std::string demucsFailureMessage(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const StemSeparationFailure& failure) {
        const std::string status = std::to_string(failure.status());
        if (!failure.detail() || failure.detail()->empty())
            return "No se pudo separar con Demucs (" + status + "). Reintenta o revisa el motor de ondas separadas.";
        return "No se pudo separar con Demucs (" + status + "). " + leadingCharacters(*failure.detail(), messageDetailLimit);
    } catch (...) {
    }
    return genericFailure;
}

// Folders the program makes for itself are the user's alone.
void createPrivateDirectories(const fs::path& folder)
{
    if (fs::is_directory(folder))
        return;
    if (folder.has_parent_path() && folder.parent_path() != folder)
        createPrivateDirectories(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw fs::filesystem_error("cannot create folder", folder, std::error_code(errno, std::generic_category()));
    if (!fs::is_directory(folder))
        throw fs::filesystem_error("not a folder", folder, std::make_error_code(std::errc::not_a_directory));
}

// Removes the folder when the run ends, whatever the outcome.
class FolderRemoval {
public:
    explicit FolderRemoval(fs::path folder) : m_folder(std::move(folder)) {}
    ~FolderRemoval()
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    FolderRemoval(const FolderRemoval&) = delete;
    FolderRemoval& operator=(const FolderRemoval&) = delete;

private:
    fs::path m_folder;
};

bool isMono(const fs::path& audioURL)
{
    try {
        return AudioFileReader::formatOf(audioURL).channelCount == 1;
    } catch (const std::exception&) {
        return false; // goes to the runtime unchanged
    }
}

// The in-process converter stands in for "-f WAVE -d LEF32 -c 2 <song> <copy>": status 0 on success.
void convertMonoSong(const fs::path& audioURL, const fs::path& converted)
{
    const int status = AudioConverter::convertToStereoFloatWAV(audioURL, converted) ? 0 : 1;
    bool usable = false;
    if (status == 0) {
        try {
            const AudioFileFormat format = AudioFileReader::formatOf(converted);
            usable = format.channelCount == 2 && format.lengthFrames >= 1;
        } catch (const std::exception&) {
            usable = false;
        }
    }
    if (!usable)
        throw StemSeparationFailure(status, std::string(monoFailureDetail));
}

void runDemucs(const DemucsRuntimeHandle& runtime, const fs::path& audioURL, const fs::path& outputRoot,
               std::stop_token stop)
{
    // The separator opens the song by its name: a FIFO there would hold it for ever.
    if (!RegularFile::isReadable(audioURL))
        throw StemSeparationFailure(-1, "the song is not a regular file");
    fs::path input = audioURL;
    std::optional<FolderRemoval> monoRemoval;
    if (isMono(audioURL)) {
        const fs::path monoFolder = outputRoot / (".mono-input-" + Uuid::random().toString());
        createPrivateDirectories(monoFolder);
        monoRemoval.emplace(monoFolder);
        const fs::path converted = monoFolder / (audioURL.stem().string() + ".wav");
        convertMonoSong(audioURL, converted);
        input = converted;
    }
    const std::vector<std::string> arguments{
        "-n", runtime.modelName, "--repo", runtime.modelRepositoryURL.string(), "--device", "cpu",
        "--segment", "7", "--out", outputRoot.string(), input.string(),
    };
    const DemucsRuntimeProductionIO::ProcessResult result = DemucsRuntimeProductionIO::runProcess(
        runtime.executableURL.string(), arguments, DemucsRuntimeProductionIO::offlineEnvironment(runtime.cacheURL),
        childTimeoutSeconds, {}, separationOutputLimit, {}, stop);
    if (result.status != 0)
        throw StemSeparationFailure(result.status, leadingCharacters(result.output, detailLimit));
}

StemSeparationState demucsState(const std::string& signature, const fs::path& stemFolder,
                                std::map<AudioStem, fs::path> stems, const char* message)
{
    StemSeparationState state;
    state.engine = StemSeparationEngine::demucs;
    state.sourceSignature = signature;
    state.cacheDirectory = stemFolder;
    state.stems = std::move(stems);
    state.separatedAt = std::chrono::system_clock::now();
    state.message = message;
    return enrichedPreviewState(std::move(state));
}

StemSeparationResult buildResult(const StemSeparationState& stored, const std::set<AutoBeatInstrument>& relevant,
                                 bool usesFallback)
{
    StemSeparationResult result;
    result.state = enrichedPreviewState(stored);
    result.usesFallback = usesFallback;
    if (result.state.engine != StemSeparationEngine::demucs)
        return result;
    for (const AutoBeatInstrument instrument : relevant) {
        std::optional<fs::path> url;
        if (const auto preview = result.state.instrumentPreviewURLs.find(instrument);
            preview != result.state.instrumentPreviewURLs.end())
            url = preview->second;
        else if (const auto stem = result.state.stems.find(AudioAnalysisCacheKey::stemFor(instrument));
                 stem != result.state.stems.end())
            url = stem->second;
        std::error_code error;
        if (url && fs::exists(*url, error))
            result.sources.emplace(instrument, StemSource{instrument, *url, *url, StemSeparationEngine::demucs});
    }
    return result;
}

bool isInsideStemsFolder(const fs::path& folder, const fs::path& projectURL)
{
    const std::string root = ProjectAudioResourceStorage::standardized(
        ProjectAudioResourceStorage::projectDirectory(projectURL) / "AI" / "Stems").string() + "/";
    return ProjectAudioResourceStorage::standardized(folder).string().starts_with(root);
}

} // namespace

DemucsRuntimeHandle sharedRuntime(std::stop_token stop)
{
    return DemucsRuntimeManager::shared().readyRuntime({}, stop);
}

StemSeparationResult prepareSources(const fs::path& audioURL, const fs::path& projectURL,
                                    const std::set<AutoBeatInstrument>& instruments,
                                    const StemSeparationState& currentState, std::stop_token stop,
                                    const RuntimeProvider& runtime)
{
    std::set<AutoBeatInstrument> relevant;
    for (const AutoBeatInstrument instrument : instruments) {
        if (demucsStemInstrumentSet().contains(instrument))
            relevant.insert(instrument);
    }
    if (relevant.empty())
        relevant = {AutoBeatInstrument::drums};
    const std::string songSignature = signature(audioURL);
    const auto fallback = [&](const std::string& message) {
        logLine("Fotivela stems fallback: " + message);
        return fallbackResult(songSignature, message);
    };

    // 1. The stored state still describes this song's stems.
    if (currentState.engine == StemSeparationEngine::demucs && currentState.sourceSignature == songSignature
        && currentState.cacheDirectory
        && ProjectAudioResourceStorage::isOwnedURL(*currentState.cacheDirectory, projectURL)
        && isInsideStemsFolder(*currentState.cacheDirectory, projectURL) && hasRequiredStems(relevant, currentState))
        return buildResult(currentState, relevant, false);

    // 2. A ready runtime.
    DemucsRuntimeHandle handle;
    try {
        handle = runtime(stop);
    } catch (const std::exception& error) {
        return fallback(runtimeFailurePrefix + std::string(error.what()));
    }
    // What every separation makes the user wait for: all but a first install of the runtime.
    const auto started = std::chrono::steady_clock::now();

    const fs::path stemsRoot = ProjectAudioResourceStorage::projectDirectory(projectURL) / "AI" / "Stems";
    const std::string cacheID = sanitizedCacheID(songSignature + "|" + handle.version);
    fs::path cacheFolder = stemsRoot / cacheID;
    try {
        createPrivateDirectories(stemsRoot);
    } catch (...) {
        return fallback(demucsFailureMessage(std::current_exception()));
    }

    // 3. A finished separation of this song and runtime, also when the stored state was lost.
    std::error_code statError;
    if (fs::exists(fs::symlink_status(cacheFolder, statError))) {
        try {
            const fs::path stemFolder = demucsStemDirectory(cacheFolder, audioURL);
            std::map<AudioStem, fs::path> stems = collectStems(stemFolder);
            if (!stems.empty()) {
                const StemSeparationState state = demucsState(songSignature, stemFolder, std::move(stems), reusedMessage);
                if (hasRequiredStems(relevant, state))
                    return buildResult(state, relevant, false);
            }
        } catch (const std::exception&) {
            // Not a usable stem set: separate again beside it.
        }
        if (fs::exists(fs::symlink_status(cacheFolder, statError)))
            cacheFolder = stemsRoot / (cacheID + "-" + Uuid::random().toString());
    }

    // 4. A fresh separation in a work folder that goes whatever the outcome.
    // Earlier runs that a killed program left behind go first; running ones hold their folders.
    SeparationWorkFolder::sweepAbandoned(stemsRoot);
    const fs::path workFolder
        = stemsRoot / (std::string(SeparationWorkFolder::namePrefix) + Uuid::random().toString());
    std::optional<SeparationWorkFolder::Lock> workLock; // released only after the folder went
    try {
        createPrivateDirectories(workFolder);
    } catch (...) {
        return fallback(demucsFailureMessage(std::current_exception()));
    }
    FolderRemoval workRemoval(workFolder);
    try {
        workLock.emplace(workFolder);
    } catch (...) {
        return fallback(demucsFailureMessage(std::current_exception()));
    }
    try {
        runDemucs(handle, audioURL, workFolder, stop);
    } catch (...) {
        return fallback(demucsFailureMessage(std::current_exception()));
    }

    fs::path stemFolder;
    std::map<AudioStem, fs::path> stems;
    try {
        const fs::path workStems = demucsStemDirectory(workFolder, audioURL);
        ProjectAudioResourceStorage::convertLosslessWAVFiles(workStems);
        if (collectStems(workStems).size() < 4)
            throw StemSeparationFailure(-1, std::string("Faltan instrumentos"));
        if (stop.stop_requested())
            throw std::system_error(std::make_error_code(std::errc::operation_canceled));
        fs::rename(workFolder, cacheFolder);
        stemFolder = demucsStemDirectory(cacheFolder, audioURL);
        stems = collectStems(stemFolder);
    } catch (...) {
        return fallback(demucsFailureMessage(std::current_exception()));
    }

    const StemSeparationState state = demucsState(songSignature, stemFolder, std::move(stems), preparedMessage);
    if (!hasRequiredStems(relevant, state))
        return fallback(missingStemsAfterRun);
    StemSeparationResult result = buildResult(state, relevant, false);
    result.separationSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

} // namespace fotivela::StemSeparationService
