#pragma once

#include "store_test_support.h"
#include "support/test_audio.h"

#include "analysis/stem_separation_service.h"
#include "model/project_json.h"
#include "platform/atomic_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

namespace fotivela {

struct ProjectStoreMusicTestAccess {
    static void analyzeWaveformAsync(ProjectStore& store, const std::filesystem::path& url, bool markDirty)
    {
        store.analyzeWaveformAsync(url, markDirty);
    }
    static bool loadInstrumentAnalysisIfAvailable(ProjectStore& store, const AudioTrack& track)
    {
        return store.loadInstrumentAnalysisIfAvailable(track);
    }
    static void analyzeInstrumentAudioAsync(ProjectStore& store, bool markDirty, bool useCache)
    {
        store.analyzeInstrumentAudioAsync(markDirty, useCache);
    }
    static void loadInstrumentAnalysisOrAnalyze(ProjectStore& store, bool markDirty)
    {
        store.loadInstrumentAnalysisOrAnalyze(markDirty);
    }
    static void startStemTimeEstimate(ProjectStore& store, double duration) { store.startStemTimeEstimate(duration); }
    static void cancelStemTimeEstimate(ProjectStore& store) { store.cancelStemTimeEstimate(); }
    static void setPhysicalMemory(ProjectStore& store, std::uint64_t bytes)
    {
        store.m_physicalMemoryBytes = [bytes] { return bytes; };
    }
    static void setStemSourcePreparer(ProjectStore& store, StemSourcePreparer preparer)
    {
        store.m_stemSourcePreparer = std::move(preparer);
    }
    static bool hasActiveRun(const ProjectStore& store) { return store.m_activeInstrumentAnalysisRunID.has_value(); }
    static const AudioPlayer* instrumentPreviewPlayer(const ProjectStore& store)
    {
        return store.m_instrumentPreviewPlayer.get();
    }
    static const AudioPlaybackController& playback(const ProjectStore& store) { return store.m_audioPlayback; }
};

} // namespace fotivela

namespace fotivela::test {

constexpr std::uint64_t gibibyte = 1024ull * 1024ull * 1024ull;

// A song of clicks at known times, written as a WAV file.
inline std::filesystem::path writeClickSong(const std::filesystem::path& folder, const std::string& name,
                                            double seconds, const std::vector<double>& clicks)
{
    TestSignal signal = makeSilence(seconds);
    addClicks(signal, clicks);
    return writeAudioFile(folder, name, signal, TestAudioFormat::wav16);
}

// A project file as the user left it: the song in automatic placement with its attack
// markers, and the given slides.
inline std::filesystem::path saveAutomaticSongProject(const std::filesystem::path& folder, const std::string& name,
                                                      const std::filesystem::path& song, std::vector<Slide> slides = {})
{
    FotivelaProject project = FotivelaProject::empty();
    project.name = name;
    project.audio = makeTrack(SyncMode::autoBeatV2, song);
    project.audio->isAttackWaveformEnabled = true;
    project.slides = std::move(slides);
    const std::filesystem::path url = folder / name / (name + ".fotivela");
    std::filesystem::create_directories(url.parent_path());
    atomicWriteFile(url, encodeProject(project));
    return url;
}

// Opens a project and waits until its song's attack markers stand.
[[nodiscard]] inline bool openAnalysed(ProjectStore& store, const std::filesystem::path& url)
{
    return store.loadProject(url)
        && waitFor([&] { return !store.attackBeatMarkers().empty() && store.audioAnalysisStatusMessage().empty(); },
                   30000);
}

inline std::vector<double> slideDurations(const ProjectStore& store)
{
    std::vector<double> durations;
    for (const Slide& slide : store.project().slides)
        durations.push_back(slide.duration);
    return durations;
}

// Saves the open project and gives its slide durations once it is opened again and analysed;
// none when it does not open.
inline std::optional<std::vector<double>> durationsAfterReopening(ProjectStore& store, const std::filesystem::path& url)
{
    store.saveCurrentProjectImmediatelyIfPossible();
    ProjectStore reopened;
    if (!openAnalysed(reopened, url))
        return std::nullopt;
    return slideDurations(reopened);
}

// Every cut between two slides falls on a marker that the placement uses.
inline bool everyCutOnAMarker(const ProjectStore& store)
{
    const std::vector<Slide>& slides = store.project().slides;
    const std::vector<BeatMarker>& markers = store.autoSyncBeatMarkers();
    double cut = 0;
    for (std::size_t i = 0; i + 1 < slides.size(); ++i) {
        cut += slides[i].duration;
        if (std::none_of(markers.begin(), markers.end(), [&](const BeatMarker& m) { return std::abs(m.time - cut) < 1e-6; }))
            return false;
    }
    return true;
}

// Stems as a separation leaves them: a drum stem with the kicks and, where given, a bass
// stem with its notes (without one, every instrument reads the drum stem).
inline StemSourcePreparer separatedStems(const std::filesystem::path& drums, const std::filesystem::path& bass = {})
{
    return [drums, bass](const std::filesystem::path& audio, const std::filesystem::path&,
                         const std::set<AutoBeatInstrument>& instruments, const StemSeparationState&, std::stop_token) {
        StemSeparationResult result;
        result.usesFallback = false;
        result.state.engine = StemSeparationEngine::demucs;
        result.state.sourceSignature = StemSeparationService::signature(audio);
        result.state.stems[AudioStem::drums] = drums;
        if (!bass.empty())
            result.state.stems[AudioStem::bass] = bass;
        for (AutoBeatInstrument instrument : instruments) {
            const std::filesystem::path& file = instrument == AutoBeatInstrument::bass && !bass.empty() ? bass : drums;
            result.sources[instrument] = StemSource{instrument, file, file};
        }
        return result;
    };
}

} // namespace fotivela::test
