#include "analysis/audio_analysis_cache_key.h"
#include "analysis/stem_separation_service.h"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <chrono>
#include <system_error>

namespace fs = std::filesystem;

namespace fotivela::StemSeparationService {

namespace {

constexpr std::array<AudioStem, 4> stemOrder{AudioStem::drums, AudioStem::bass, AudioStem::vocals, AudioStem::other};

const char* stemFileBase(AudioStem stem)
{
    switch (stem) {
    case AudioStem::drums:
        return "drums";
    case AudioStem::bass:
        return "bass";
    case AudioStem::vocals:
        return "vocals";
    case AudioStem::other:
        break;
    }
    return "other";
}

// Shortest text that reads back to the same value, always with a decimal point.
std::string secondsText(double seconds)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    std::string text(buffer, written.ec == std::errc() ? written.ptr : buffer);
    if (text.empty())
        return "0.0";
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

bool entryExists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

struct DrumPart {
    AutoBeatInstrument instrument;
    const char* fileName;
};

constexpr std::array<DrumPart, 3> drumParts{{
    {AutoBeatInstrument::kick, "kick-filtered-v2.wav"},
    {AutoBeatInstrument::clapSnare, "clap-snare-filtered-v2.wav"},
    {AutoBeatInstrument::cymbalHats, "cymbal-hats-filtered-v2.wav"},
}};

} // namespace

std::string signature(const fs::path& url)
{
    struct stat info {};
    std::string size = "0";
    std::string time = "0.0";
    if (::stat(url.c_str(), &info) == 0) {
        size = std::to_string(static_cast<long long>(info.st_size));
        time = secondsText(static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
    }
    return url.string() + "|" + size + "|" + time;
}

StemSeparationResult fallbackResult(const std::string& signature, const std::string& message)
{
    StemSeparationResult result;
    result.state.engine = StemSeparationEngine::fallbackMix;
    result.state.sourceSignature = signature;
    result.state.separatedAt = std::chrono::system_clock::now();
    result.state.message = message;
    result.usesFallback = true;
    return result;
}

std::string sanitizedCacheID(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    char buffer[17];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, hash, 16);
    std::string id(buffer, written.ptr);
    for (char& c : id)
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    return id;
}

fs::path demucsStemDirectory(const fs::path& folder, const fs::path& audioURL)
{
    const fs::path models = folder / "htdemucs";
    const fs::path expected = models / audioURL.stem();
    if (entryExists(expected))
        return expected;
    for (const fs::directory_entry& entry : fs::directory_iterator(models)) {
        std::error_code error;
        if (entry.is_directory(error) && !error)
            return entry.path();
    }
    throw fs::filesystem_error("no stem folder", models, std::make_error_code(std::errc::no_such_file_or_directory));
}

std::map<AudioStem, fs::path> collectStems(const fs::path& folder)
{
    std::map<AudioStem, fs::path> stems;
    for (const AudioStem stem : stemOrder) {
        const fs::path flac = folder / (std::string(stemFileBase(stem)) + ".flac");
        const fs::path wav = folder / (std::string(stemFileBase(stem)) + ".wav");
        if (entryExists(flac))
            stems.emplace(stem, flac);
        else if (entryExists(wav))
            stems.emplace(stem, wav);
    }
    return stems;
}

bool hasRequiredStems(const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& state)
{
    std::set<AudioStem> needed;
    for (const AutoBeatInstrument instrument : instruments)
        needed.insert(AudioAnalysisCacheKey::stemFor(instrument));
    if (needed.empty())
        return false;
    for (const AudioStem stem : needed) {
        const auto found = state.stems.find(stem);
        if (found == state.stems.end() || !entryExists(found->second))
            return false;
    }
    return true;
}

StemSeparationState enrichedPreviewState(StemSeparationState state)
{
    if (state.engine != StemSeparationEngine::demucs)
        return state;
    std::map<AutoBeatInstrument, fs::path>& previews = state.instrumentPreviewURLs;
    for (const AutoBeatInstrument instrument : {AutoBeatInstrument::drums, AutoBeatInstrument::bass,
                                                AutoBeatInstrument::vocals, AutoBeatInstrument::other}) {
        if (const auto found = previews.find(instrument); found != previews.end() && entryExists(found->second))
            continue;
        if (const auto stem = state.stems.find(AudioAnalysisCacheKey::stemFor(instrument)); stem != state.stems.end())
            previews[instrument] = stem->second;
    }
    // The drum parts are filtered from the drum stem once; a file that stands there is reused.
    const auto drums = state.stems.find(AudioStem::drums);
    if (drums == state.stems.end() || !state.cacheDirectory)
        return state;
    const fs::path folder = *state.cacheDirectory / "instrument-previews";
    for (const DrumPart& part : drumParts) {
        if (const auto found = previews.find(part.instrument); found != previews.end() && entryExists(found->second))
            continue;
        std::error_code error;
        fs::create_directories(folder, error);
        if (error)
            return state;
        const fs::path file = folder / part.fileName;
        if (entryExists(file) || writeFilteredPreview(drums->second, file, part.instrument))
            previews[part.instrument] = file;
    }
    return state;
}

} // namespace fotivela::StemSeparationService
