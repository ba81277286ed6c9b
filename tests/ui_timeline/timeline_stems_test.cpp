#include "timeline_test_support.h"

#include "analysis/audio_analysis_cache_key.h"
#include "store/music_test_support.h"
#include "support/test_audio.h"
#include "ui/common/view_helpers.h"
#include "ui/timeline/music_beat_lane.h"
#include "ui/timeline/timeline_audio_controls.h"

#include <QTest>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using Access = ProjectStoreMusicTestAccess;

class TimelineStemsTest : public TimelineTest {
protected:
    AudioTestFolder m_folder{"fotivela-timeline-stems"};
    fs::path m_drums;
    fs::path m_bass;

    // A song with a drum and a bass stem beside it and their analyses in the song's caches,
    // as a finished separation leaves them.
    void prepareWithStems()
    {
        const fs::path song = writeAudioFile(m_folder.path(), "song", makeSine(220, 6), TestAudioFormat::wav16);
        m_drums = writeAudioFile(m_folder.path(), "drums", makeSine(110, 6), TestAudioFormat::wavFloat);
        m_bass = writeAudioFile(m_folder.path(), "bass", makeSine(55, 6), TestAudioFormat::wavFloat);
        std::vector<double> loud(300, 0.9);
        std::vector<double> quiet(300, 0.2);
        store->modifyProject([&](FotivelaProject& p) {
            p.audio = makeTrack(SyncMode::autoBeatV2, song);
            p.audio->autoBeatInstruments = {AutoBeatInstrument::drums, AutoBeatInstrument::bass};
            StemSeparationState& state = p.audio->stemSeparation;
            state.engine = StemSeparationEngine::demucs;
            state.sourceSignature = StemSourcePreparation::signature(song);
            state.stems = {{AudioStem::drums, m_drums}, {AudioStem::bass, m_bass}};
            for (const auto& [instrument, samples] :
                 {std::pair{AutoBeatInstrument::drums, loud}, std::pair{AutoBeatInstrument::bass, quiet}}) {
                const std::string origin = AudioAnalysisCacheKey::instrumentAnalysisOrigin(instrument, state);
                p.audio->instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(instrument, origin, 0.5, 4)] =
                    AudioAnalysis{samples, {}, 0.5, 4, 25};
            }
            p.slides = {makeSlide(3), makeSlide(3)};
        });
        store->setIsAttackWaveformEnabled(false);
        store->prepareAudioPlayerIfNeeded();
        store->recalculateTotalDuration();
    }
};

} // namespace

TEST_F(TimelineStemsTest, StemRowsShowAndTheirButtonsPlayTheStemsWithTheSong)
{
    prepareWithStems();
    showPanel();
    ASSERT_EQ(store->visibleStemWaveformInstruments(),
              (std::set{AutoBeatInstrument::drums, AutoBeatInstrument::bass}));

    // Two rows above the song's waveform, in the instrument order: bass, then drums.
    MusicBeatLane* lane = panel->musicLane();
    EXPECT_EQ(lane->height(), 52 + 2 * 22);
    const QImage pixels = lane->grab().toImage();
    const auto rowColour = [&](int row) {
        // At the row's centre the outline is filled with the instrument's colour.
        return pixels.pixelColor(pixels.width() / 2, static_cast<int>((22 * row + 11.88) * pixels.devicePixelRatio()));
    };
    const auto closeTo = [](QColor seen, AutoBeatInstrument instrument) {
        const QColor want = instrumentColor(instrument);
        return std::abs(seen.hueF() - want.hueF()) < 0.08 && seen.saturationF() > 0.2;
    };
    EXPECT_TRUE(closeTo(rowColour(0), AutoBeatInstrument::bass)) << rowColour(0).name().toStdString();
    EXPECT_TRUE(closeTo(rowColour(1), AutoBeatInstrument::drums)) << rowColour(1).name().toStdString();

    TimelineFixedAudioControls* column = panel->audioControls();
    EXPECT_EQ(column->height(), 92 + 2 * 22);
    auto [bassListen, bassSolo] = column->stemButtons(0);
    auto [drumListen, drumSolo] = column->stemButtons(1);
    ASSERT_TRUE(bassListen && drumListen);
    EXPECT_EQ(drumListen->toolTip(), "Escuchar Bateria completa");

    // Listening to the drums while stopped records them; playing starts their stem with the song.
    QTest::mouseClick(drumListen, Qt::LeftButton);
    settle();
    EXPECT_EQ(store->audibleTimelineInstruments(), std::set{AutoBeatInstrument::drums});
    EXPECT_EQ(drumListen->toolTip(), "Silenciar Bateria completa");
    store->startPreview();
    const AudioPlaybackController& playback = Access::playback(*store);
    ASSERT_TRUE(playback.timelineInstrumentPlayers.contains(AutoBeatInstrument::drums));
    const AudioPlayer& drumPlayer = *playback.timelineInstrumentPlayers.at(AutoBeatInstrument::drums);
    EXPECT_EQ(drumPlayer.file(), m_drums);
    EXPECT_TRUE(drumPlayer.isPlaying());
    ASSERT_TRUE(playback.mainPlayer && playback.mainPlayer->isPlaying());
    waitFor([] { return false; }, 200);
    double apart = 1;
    for (int i = 0; i < 5; ++i)
        apart = std::min(apart, std::abs(drumPlayer.currentTime() - playback.mainPlayer->currentTime()));
    EXPECT_LT(apart, 0.002);

    // Soloing the bass while playing: the bass alone, the song silent.
    QTest::mouseClick(bassSolo, Qt::LeftButton);
    settle();
    EXPECT_EQ(store->soloTimelineInstrument(), AutoBeatInstrument::bass);
    EXPECT_TRUE(store->isMainAudioMuted());
    ASSERT_EQ(playback.timelineInstrumentPlayers.size(), 1u);
    EXPECT_EQ(playback.timelineInstrumentPlayers.at(AutoBeatInstrument::bass)->file(), m_bass);
    EXPECT_TRUE(playback.timelineInstrumentPlayers.at(AutoBeatInstrument::bass)->isPlaying());
    EXPECT_EQ(playback.mainPlayer->volume(), 0.0f);
    store->stopPreview();
}
