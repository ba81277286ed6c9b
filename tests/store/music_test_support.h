#pragma once

#include "store_test_support.h"
#include "support/test_audio.h"

#include "analysis/stem_separation_service.h"

#include <cstdint>
#include <filesystem>
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
