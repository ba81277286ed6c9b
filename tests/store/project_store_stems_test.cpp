#include "music_test_support.h"

#include "analysis/stem_separation_service.h"
#include "model/fotivela_preferences.h"
#include "platform/audio_file_reader.h"
#include "support/test_process.h"

#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <numbers>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using Access = ProjectStoreMusicTestAccess;

const std::vector<double> kickTimes{0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5};
const std::vector<double> bassOnsets{1.0, 3.0, 5.0, 7.0};

// A small band: kicks, a bass line, a voice-like tone with vibrato in the centre and
// pads panned wide, mixed into one stereo song.
TestSignal multitrackSong(double seconds)
{
    TestSignal song = makeSilence(seconds);
    const int rate = song.sampleRate;
    addDrumHits(song, kickTimes, 0.7);
    const double notes[] = {55.0, 73.4, 49.0, 65.4};
    for (std::size_t n = 0; n < bassOnsets.size(); ++n) {
        const std::size_t start = static_cast<std::size_t>(bassOnsets[n] * rate);
        for (std::size_t i = 0; i < static_cast<std::size_t>(0.8 * rate) && start + i < song.frameCount(); ++i) {
            const double t = static_cast<double>(i) / rate;
            const double envelope = std::min(t / 0.004, 1.0) * std::exp(-t * 2.5);
            const float value = static_cast<float>(0.45 * envelope * std::sin(2 * std::numbers::pi * notes[n] * t));
            song.channels[0][start + i] += value;
            song.channels[1][start + i] += value;
        }
    }
    for (std::size_t i = 0; i < song.frameCount(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double vibrato = 6.0 * std::sin(2 * std::numbers::pi * 5.5 * t);
        const float voice = static_cast<float>(0.12 * std::sin(2 * std::numbers::pi * (330.0 * t + vibrato / (2 * std::numbers::pi * 5.5))));
        song.channels[0][i] += voice + static_cast<float>(0.05 * std::sin(2 * std::numbers::pi * 523.3 * t));
        song.channels[1][i] += voice + static_cast<float>(0.05 * std::sin(2 * std::numbers::pi * 659.3 * t));
    }
    return song;
}

int foundNear(const std::vector<BeatMarker>& markers, AutoBeatInstrument instrument, const std::vector<double>& times,
              double tolerance)
{
    int found = 0;
    for (double time : times) {
        for (const BeatMarker& marker : markers) {
            if (marker.sourceInstrument == instrument && std::abs(marker.time - time) <= tolerance) {
                ++found;
                break;
            }
        }
    }
    return found;
}

std::map<std::string, fs::file_time_type> modificationTimes(const fs::path& folder)
{
    std::map<std::string, fs::file_time_type> times;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        times[entry.path().string()] = entry.last_write_time();
    return times;
}

class StoreStems : public StoreTest {
protected:
    AudioTestFolder m_folder{"fotivela-store-stems"};
    fs::path m_projectURL;

    void openSong(ProjectStore& store, const fs::path& song, std::set<AutoBeatInstrument> instruments, int slides)
    {
        m_projectURL = m_root / "Proyectos" / "Banda" / "Banda.fotivela";
        fs::create_directories(m_projectURL.parent_path());
        store.setCurrentProjectURL(m_projectURL);
        store.modifyProject([&](FotivelaProject& p) {
            p.name = "Banda";
            p.audio = makeTrack(SyncMode::autoBeatV2, song);
            p.audio->autoBeatInstruments = std::move(instruments);
            p.slides.clear();
            for (int i = 0; i < slides; ++i)
                p.slides.push_back(makeSlide(1));
        });
        store.setIsAttackWaveformEnabled(false);
        Access::setPhysicalMemory(store, 16 * gibibyte);
        const AudioFileFormat format = AudioFileReader::formatOf(song);
        store.setAudioDuration(static_cast<double>(format.lengthFrames) / format.sampleRate);
        store.recalculateTotalDuration();
    }

    fs::path stemsRoot() const { return m_projectURL.parent_path() / "AI" / "Stems"; }
};

// The service with a runtime made of a script that sleeps, leaving its process id behind.
StemSourcePreparer sleepingRuntimePreparer(const fs::path& folder)
{
    const fs::path script = folder / "slow-runtime.sh";
    std::ofstream(script) << "#!/bin/sh\n/bin/sleep 120 & echo $! > '" << (folder / "pid").string() << "'\nwait\n";
    fs::permissions(script, fs::perms::owner_all);
    const DemucsRuntimeHandle handle{script, folder, "htdemucs", "slow", folder};
    return [handle](const fs::path& audio, const fs::path& project, const std::set<AutoBeatInstrument>& instruments,
                    const StemSeparationState& state, std::stop_token stop) {
        return StemSeparationService::prepareSources(audio, project, instruments, state, stop,
                                                     [handle](std::stop_token) { return handle; });
    };
}

} // namespace

TEST_F(StoreStems, InstrumentAnalysisSeparatesTheSongThenReusesItsStems)
{
    ProjectStore store;
    const fs::path song = writeAudioFile(m_folder.path(), "banda", multitrackSong(8.5), TestAudioFormat::wav16);
    openSong(store, song, {AutoBeatInstrument::drums, AutoBeatInstrument::bass}, 4);
    ASSERT_GT(store.audioDuration(), 8);

    // The installed runtime runs as a child process and writes the four stems.
    Access::analyzeInstrumentAudioAsync(store, true, true);
    EXPECT_EQ(store.audioAnalysisStatusMessage().rfind("Separando instrumentos... ", 0), 0u);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 120000));
    const AudioTrack& track = *store.project().audio;
    ASSERT_EQ(track.stemSeparation.engine, StemSeparationEngine::demucs) << track.stemSeparation.message;
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Ondas separadas listas: 2 activos, 2 preparados");
    ASSERT_TRUE(track.stemSeparation.cacheDirectory);
    const fs::path stemFolder = *track.stemSeparation.cacheDirectory;
    EXPECT_EQ(stemFolder.parent_path().filename(), "htdemucs");
    EXPECT_EQ(stemFolder.filename(), "banda");
    EXPECT_EQ(stemFolder.parent_path().parent_path().parent_path(), stemsRoot());
    ASSERT_EQ(track.stemSeparation.stems.size(), 4u);
    for (const auto& [stem, file] : track.stemSeparation.stems)
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_TRUE(fs::exists(stemFolder / "instrument-previews" / "kick-filtered-v2.wav"));
    EXPECT_TRUE(track.instrumentAnalysisVariants.contains("Bateria completa|demucs:Bateria|s:500|b:4|v:25"));
    EXPECT_TRUE(track.instrumentAnalysisVariants.contains("Bajo|demucs:Bajo|s:500|b:4|v:25"));

    // Each instrument's markers come from its own stem: the drums find the kicks, the bass its notes.
    const std::vector<BeatMarker>& markers = store.audioBeatMarkers();
    EXPECT_GE(foundNear(markers, AutoBeatInstrument::drums, kickTimes, 0.07), 6);
    EXPECT_GE(foundNear(markers, AutoBeatInstrument::bass, bassOnsets, 0.07), 3);
    EXPECT_EQ(track.beatMarkers, markers);

    // The stem rows, the mixer and the players now have their files.
    EXPECT_TRUE(store.canPreviewInstrument(AutoBeatInstrument::kick));
    store.syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    ASSERT_EQ(store.timelineDerivedData().stemWaveforms.size(), 2u);
    EXPECT_EQ(store.timelineDerivedData().stemWaveforms[0].instrument, AutoBeatInstrument::bass);

    // A second analysis, its stored state forgotten: the cache folder is found again and
    // no separation runs (nothing in the stems folder is written again).
    const auto before = modificationTimes(stemsRoot());
    store.modifyProject([](FotivelaProject& p) { p.audio->stemSeparation = StemSeparationState{}; });
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    EXPECT_EQ(store.project().audio->stemSeparation.engine, StemSeparationEngine::demucs);
    EXPECT_EQ(store.project().audio->stemSeparation.message, "Stems reales recuperados de cache Demucs");
    EXPECT_EQ(store.project().audio->stemSeparation.cacheDirectory, stemFolder);
    EXPECT_EQ(modificationTimes(stemsRoot()), before);
}

TEST_F(StoreStems, CancelledRunStopsItsSeparationWithinASecond)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "clicks", 3, {1.0, 2.0});
    openSong(store, song, {AutoBeatInstrument::drums}, 2);
    Access::setStemSourcePreparer(store, sleepingRuntimePreparer(m_folder.path()));
    store.setAutoBeatInstrumentsEnabled(true);
    ASSERT_TRUE(waitFor([&] { return fs::exists(m_folder / "pid") && fs::file_size(m_folder / "pid") > 0; }, 20000));
    pid_t child = 0;
    std::ifstream(m_folder / "pid") >> child;
    ASSERT_GT(child, 0);
    ASSERT_EQ(::kill(child, 0), 0);

    store.setAutoBeatInstrumentsEnabled(false);
    EXPECT_FALSE(store.isAnalyzingAudio());
    // Within a second on an idle machine; a loaded one gets some slack.
    EXPECT_TRUE(waitFor([&] { return processHasEnded(child); }, 3000));
    // The run's work folder goes with it, and its late result is never applied.
    EXPECT_TRUE(waitFor(
        [&] {
            for (const auto& entry : fs::directory_iterator(stemsRoot()))
                if (entry.path().filename().string().starts_with(".separation-"))
                    return false;
            return true;
        },
        3000));
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(store.isAttackWaveformEnabled());
    EXPECT_EQ(store.project().audio->stemSeparation.engine, StemSeparationEngine::fallbackMix);
}

TEST_F(StoreStems, EstimateLearnsOnlyFromSeparationsThatRan)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "clicks", 10, {1.0, 2.0});
    openSong(store, song, {AutoBeatInstrument::drums}, 2);
    const fs::path stem = writeClickSong(m_folder.path(), "drums", 10, {1.0, 2.0});
    const auto rate = [] {
        const std::optional<PlistValue> value = FotivelaPreferences::shared().object("stemSecondsPerAudioSecond");
        const double* real = value ? value->as<double>() : nullptr;
        return real ? std::optional<double>(*real) : std::nullopt;
    };
    const auto preparer = [stem](std::optional<double> seconds) -> StemSourcePreparer {
        return [stem, seconds](const fs::path& audio, const fs::path&, const std::set<AutoBeatInstrument>&,
                               const StemSeparationState&, std::stop_token) {
            StemSeparationResult result;
            result.usesFallback = false;
            result.state.engine = StemSeparationEngine::demucs;
            result.state.sourceSignature = StemSeparationService::signature(audio);
            result.state.stems[AudioStem::drums] = stem;
            result.sources[AutoBeatInstrument::drums] = StemSource{AutoBeatInstrument::drums, stem, stem};
            result.separationSeconds = seconds;
            return result;
        };
    };

    const std::optional<double> start = rate();
    // Stems found in the cache took no separation: nothing is learnt.
    Access::setStemSourcePreparer(store, preparer(std::nullopt));
    Access::analyzeInstrumentAudioAsync(store, true, false);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 30000));
    EXPECT_EQ(rate(), start);

    store.modifyProject([](FotivelaProject& p) { p.audio->stemSeparation = StemSeparationState{}; });
    Access::setStemSourcePreparer(store, preparer(30.0));
    Access::analyzeInstrumentAudioAsync(store, true, false);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 30000));
    // The separation's 30 s and the stem's analysis after it, which the countdown also covers.
    const auto learnt = [&](double seconds) {
        const double observed = seconds / store.audioDuration();
        return start && *start > 0 ? observed * 0.35 + *start * 0.65 : observed;
    };
    ASSERT_TRUE(rate());
    EXPECT_GT(*rate(), learnt(30.0));
    EXPECT_LT(*rate(), learnt(90.0));
}

TEST_F(StoreStems, StartingAnInstrumentPreviewPlaysItsAudioUntilItEnds)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "clicks", 3, {1.0, 2.0});
    openSong(store, song, {AutoBeatInstrument::drums}, 2);
    // A stem set as a separation leaves it: a short drum stem with its kick preview.
    const fs::path stems = m_folder / "stems";
    fs::create_directories(stems / "instrument-previews");
    const fs::path drums = writeClickSong(stems, "drums", 0.6, {0.1});
    const fs::path kick = writeClickSong(stems / "instrument-previews", "kick-filtered-v2", 0.6, {0.1});
    store.modifyProject([&](FotivelaProject& p) {
        p.audio->stemSeparation.engine = StemSeparationEngine::demucs;
        p.audio->stemSeparation.stems[AudioStem::drums] = drums;
        p.audio->stemSeparation.instrumentPreviewURLs[AutoBeatInstrument::kick] = kick;
    });

    store.startInstrumentPreview(AutoBeatInstrument::vocals);
    EXPECT_FALSE(store.playingInstrumentPreview());
    EXPECT_EQ(Access::instrumentPreviewPlayer(store), nullptr);

    // The playhead lies past the preview's end: it plays from its start.
    store.setPreviewTime(2.0);
    store.startInstrumentPreview(AutoBeatInstrument::kick);
    EXPECT_EQ(store.playingInstrumentPreview(), AutoBeatInstrument::kick);
    ASSERT_NE(Access::instrumentPreviewPlayer(store), nullptr);
    EXPECT_EQ(Access::instrumentPreviewPlayer(store)->file(), kick);
    EXPECT_TRUE(Access::instrumentPreviewPlayer(store)->isPlaying());
    EXPECT_LT(Access::instrumentPreviewPlayer(store)->currentTime(), 0.3);
    // It ends by itself when its file has played out.
    EXPECT_TRUE(waitFor([&] { return !store.playingInstrumentPreview(); }, 5000));
    EXPECT_EQ(Access::instrumentPreviewPlayer(store), nullptr);

    // A clap preview has no file of its own: the drum stem plays. Starting the preview playback ends it.
    store.setPreviewTime(0.2);
    store.startInstrumentPreview(AutoBeatInstrument::clapSnare);
    ASSERT_NE(Access::instrumentPreviewPlayer(store), nullptr);
    EXPECT_EQ(Access::instrumentPreviewPlayer(store)->file(), drums);
    EXPECT_NEAR(Access::instrumentPreviewPlayer(store)->currentTime(), 0.2, 0.1);
    store.startPreview();
    EXPECT_FALSE(store.playingInstrumentPreview());
    EXPECT_EQ(Access::instrumentPreviewPlayer(store), nullptr);
    store.stopPreview();
}

TEST_F(StoreStems, RealRuntimeFailuresEndInTheFallbackWithTheirText)
{
    ProjectStore store;
    // A package that is not where the program looks: the runtime cannot be made ready.
    const fs::path song = writeClickSong(m_folder.path(), "clicks", 3, {1.0, 2.0});
    openSong(store, song, {AutoBeatInstrument::drums}, 2);
    setenv("FOTIVELA_STEM_RUNTIME_URL", (m_folder / "missing-runtime.tar.gz").c_str(), 1);
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    unsetenv("FOTIVELA_STEM_RUNTIME_URL");
    EXPECT_EQ(store.project().audio->stemSeparation.engine, StemSeparationEngine::fallbackMix);
    EXPECT_EQ(store.audioAnalysisStatusMessage().rfind("No se pudo preparar Demucs: ", 0), 0u)
        << store.audioAnalysisStatusMessage();
    EXPECT_GT(store.audioAnalysisStatusMessage().size(), std::string("No se pudo preparar Demucs: ").size());

    // The installed separator cannot read the song: it exits non-zero and its one line is shown.
    const fs::path broken = m_folder / "roto.wav";
    writeText(broken, "esto no es audio");
    store.modifyProject([&](FotivelaProject& p) { p.audio->url = broken; });
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    const std::string message = store.audioAnalysisStatusMessage();
    EXPECT_EQ(message.rfind("No se pudo separar con Demucs (", 0), 0u) << message;
    // The child's own line, not the text for a child that said nothing.
    EXPECT_EQ(message.find("Reintenta"), std::string::npos) << message;
    EXPECT_EQ(store.project().audio->stemSeparation.message, message);
    EXPECT_TRUE(store.audioBeatMarkers().empty());
    EXPECT_TRUE(store.project().audio->instrumentAnalysisVariants.empty());
}
