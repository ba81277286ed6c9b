// Songs whose headers misstate their length, songs that are no songs, and a long
// analysis cut short: the store goes by what decoding finds.
#include "music_test_support.h"
#include "store_test_support.h"

#include "model/app_text.h"
#include "platform/background_task.h"


#include <chrono>
#include <fstream>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using StoreSongLength = StoreTest;

const std::vector<double> clicks{2.0, 4.0, 6.0, 8.0, 10.0, 12.0, 14.0, 16.0, 18.0};

TestSignal clickSong()
{
    TestSignal signal = makeSilence(20.0);
    addClicks(signal, clicks);
    return signal;
}

// The song imported with attack markers on, once its analysis has landed.
void importAndAnalyse(ProjectStore& store, const fs::path& song)
{
    ASSERT_TRUE(store.importAudio(song));
    store.setIsAttackWaveformEnabled(true);
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 60000));
}

void expectMarkersOnTheClicks(ProjectStore& store, double songEnd)
{
    std::vector<double> expected;
    for (double t : clicks)
        if (t < songEnd - 0.5)
            expected.push_back(t);
    int onClick = 0;
    for (const BeatMarker& marker : store.attackBeatMarkers()) {
        // The encoder's start and the cut end make edges of their own.
        if (!marker.isEnabled || marker.time < 1.0 || marker.time > songEnd - 0.5)
            continue;
        bool near = false;
        for (double t : expected)
            near = near || std::abs(marker.time - t) <= 0.06;
        onClick += near;
        EXPECT_TRUE(near) << "marker at " << marker.time;
    }
    EXPECT_GE(onClick, static_cast<int>(expected.size()) - 1);
}

TEST_F(StoreSongLength, ACutDownloadKeepsItsMarkersOnTheBeat)
{
    ProjectStore store;
    const fs::path song = m_root / "cortada.mp3";
    writeMp3(song, clickSong(), {});
    truncateFile(song, fs::file_size(song) * 9 / 10);
    importAndAnalyse(store, song);

    EXPECT_NEAR(store.audioDuration(), 18.0, 0.5);
    ASSERT_TRUE(store.audioPlayback().mainPlayer);
    EXPECT_DOUBLE_EQ(store.audioPlayback().mainPlayer->duration(), store.audioDuration());
    expectMarkersOnTheClicks(store, store.audioDuration());
}

TEST_F(StoreSongLength, ASongWhoseCurvesCameFromTheFileIsMeasuredAgain)
{
    const fs::path song = m_root / "cortada.mp3";
    writeMp3(song, clickSong(), {});
    truncateFile(song, fs::file_size(song) * 9 / 10);
    std::vector<double> curve;
    double decoded = 0;
    {
        ProjectStore first;
        importAndAnalyse(first, song);
        curve = first.audioWaveform();
        decoded = first.audioDuration();
    }

    // As a project file brings it back: settings and curves, but no length.
    ProjectStore store;
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2, song);
        p.audio->isAttackWaveformEnabled = true;
        p.audio->waveformSamples = curve;
        p.audio->attackDetectionSamples = curve;
    });
    store.prepareAudioPlayerIfNeeded();
    EXPECT_NEAR(store.audioDuration(), 20.0, 0.1) << "the header's word at first";
    ASSERT_TRUE(waitFor([&] { return std::abs(store.audioDuration() - decoded) < 1e-6; }, 60000));
    expectMarkersOnTheClicks(store, decoded);
}

TEST_F(StoreSongLength, AVariableRateSongWithoutLengthHeaderKeepsItsMarkersOnTheBeat)
{
    ProjectStore store;
    const fs::path song = m_root / "vbr.mp3";
    TestSignal signal = clickSong();
    addNoise(signal, 0.3, 5, 5.0); // busy after a quiet start: the first frames misstate the rate
    writeMp3(song, signal, {.variableBitRate = true, .xingFrame = false});
    importAndAnalyse(store, song);

    EXPECT_NEAR(store.audioDuration(), 20.0, 0.1);
}

TEST_F(StoreSongLength, InstrumentMarkersFollowTheDecodedLengthToo)
{
    ProjectStore store;
    const fs::path song = m_root / "bateria.mp3";
    TestSignal signal = makeSilence(20.0);
    addDrumHits(signal, clicks);
    writeMp3(song, signal, {});
    truncateFile(song, fs::file_size(song) * 9 / 10);

    store.setAudio(song, SyncMode::autoBeatV2, {AutoBeatInstrument::drums}, {BeatKind::strong}, true);
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty() && !store.isAnalyzingAudio(); }, 60000));
    ASSERT_TRUE(store.project().audio->instrumentAnalysisCache.contains(AutoBeatInstrument::drums));
    int onHit = 0;
    int total = 0;
    for (const BeatMarker& marker : store.project().audio->instrumentAnalysisCache.at(AutoBeatInstrument::drums).beatMarkers) {
        if (!marker.isEnabled || marker.time < 1.0 || marker.time > 17.0)
            continue;
        ++total;
        for (double t : clicks)
            onHit += std::abs(marker.time - t) <= 0.08;
    }
    EXPECT_GE(total, 6);
    EXPECT_EQ(onHit, total);
}

TEST_F(StoreSongLength, ASongThatDoesNotDecodeIsRefusedAtOnce)
{
    ProjectStore store;
    std::vector<std::string> errors;
    store.dialogs().showError = [&](const std::string& message) { errors.push_back(message); };
    writeTextFile(m_root / "cancion.mp3", "Esto no es una cancion, es un texto.\n");

    EXPECT_FALSE(store.importAudio(m_root / "cancion.mp3"));
    EXPECT_FALSE(store.project().audio);
    EXPECT_TRUE(store.undoStack().empty());
    const std::string message = "No se puede leer la cancion: el archivo no es audio o esta danado.";
    EXPECT_EQ(errors, std::vector<std::string>{AppText::translate(message, store.appLanguage())});
    EXPECT_NE(AppText::translate(message, AppLanguage::english), message) << "the message has its English";
}

TEST_F(StoreSongLength, AnAnalysisLeftBehindStopsDecoding)
{
    // Over an hour of audio: five seconds of MP3 frames, joined end to end.
    const fs::path piece = m_root / "piece.mp3";
    writeMp3(piece, makeSine(440, 5.0, 22050, 1), {.xingFrame = false}, 32000);
    const fs::path song = m_root / "larga.mp3";
    {
        std::ifstream in(piece, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(song, std::ios::binary);
        for (int i = 0; i < 800; ++i)
            out << bytes;
    }
    {
        ProjectStore store;
        ASSERT_TRUE(store.importAudio(song));
        ASSERT_EQ(store.audioAnalysisStatusMessage(), "Analizando forma de onda...");
    }
    // Decoding the whole hour takes many times longer than this.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(backgroundPool().waitForDone(5000));
    std::printf("analysis ended %.2f s after the store\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

} // namespace
