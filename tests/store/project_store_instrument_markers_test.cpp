#include "music_test_support.h"

#include "analysis/stem_separation_service.h"
#include "model/project_file_reader.h"
#include "platform/audio_file_reader.h"
#include "store/project_file_writer.h"

#include <algorithm>
#include <cmath>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using Access = ProjectStoreMusicTestAccess;

const std::vector<double> kickTimes{0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5};
const std::vector<double> bassTimes{1.0, 3.0, 5.0, 7.0};

class StoreInstrumentMarkers : public StoreTest {
protected:
    AudioTestFolder m_folder{"fotivela-store-instrument-markers"};
    fs::path m_projectURL;

    void openSong(ProjectStore& store, const fs::path& song, std::set<AutoBeatInstrument> instruments, int slides,
                  double spacing)
    {
        m_projectURL = m_root / "Proyectos" / "Banda" / "Banda.fotivela";
        fs::create_directories(m_projectURL.parent_path());
        store.setCurrentProjectURL(m_projectURL);
        store.modifyProject([&](FotivelaProject& p) {
            p.name = "Banda";
            p.audio = makeTrack(SyncMode::autoBeatV2, song);
            p.audio->autoBeatInstruments = std::move(instruments);
            p.audio->autoBeatMinimumMarkerSpacing = spacing;
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
};

std::vector<double> enabledTimes(const std::vector<BeatMarker>& markers)
{
    std::vector<double> times;
    for (const BeatMarker& marker : markers)
        if (marker.isEnabled)
            times.push_back(marker.time);
    std::sort(times.begin(), times.end());
    return times;
}

double smallestGap(const std::vector<double>& times)
{
    double gap = INFINITY;
    for (std::size_t i = 1; i < times.size(); ++i)
        gap = std::min(gap, times[i] - times[i - 1]);
    return gap;
}

// Markers in a form a failure message can show.
std::string describe(const std::vector<BeatMarker>& markers)
{
    std::string text;
    for (const BeatMarker& marker : markers)
        text += std::to_string(marker.time) + (marker.isEnabled ? "" : " (off)") + (marker.isManual ? " (manual)" : "")
            + "; ";
    return text;
}

std::vector<double> durations(const ProjectStore& store)
{
    std::vector<double> result;
    for (const Slide& slide : store.project().slides)
        result.push_back(slide.duration);
    return result;
}

} // namespace

TEST_F(StoreInstrumentMarkers, MinimumIntervalHoldsAcrossInstrumentsAndManualMarkersComeFirst)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "banda", 8.5, {0.5, 1.0, 1.5, 2.5, 3.0, 3.5});
    const fs::path drums = writeClickSong(m_folder.path(), "drums", 8.5, kickTimes);
    const fs::path bass = writeClickSong(m_folder.path(), "bass", 8.5, bassTimes);
    openSong(store, song, {AutoBeatInstrument::drums, AutoBeatInstrument::bass}, 20, 0.8);
    Access::setStemSourcePreparer(store, separatedStems(drums, bass));

    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    const std::vector<BeatMarker>& markers = store.audioBeatMarkers();
    // Each instrument found its own hits, and none of them was dropped: the close ones are
    // only switched off, where the timeline can switch them on again.
    for (double kick : kickTimes)
        EXPECT_TRUE(std::any_of(markers.begin(), markers.end(), [&](const BeatMarker& m) {
            return m.sourceInstrument == AutoBeatInstrument::drums && std::abs(m.time - kick) < 0.06;
        })) << kick;
    for (double note : bassTimes)
        EXPECT_TRUE(std::any_of(markers.begin(), markers.end(), [&](const BeatMarker& m) {
            return m.sourceInstrument == AutoBeatInstrument::bass && std::abs(m.time - note) < 0.06;
        })) << note;
    EXPECT_TRUE(std::any_of(markers.begin(), markers.end(), [](const BeatMarker& m) { return !m.isEnabled; }));

    // Kicks and bass notes lie 0.5 s apart: with 0.8 s asked for, no two cuts come closer.
    const std::vector<double> cuts = enabledTimes(markers);
    ASSERT_GE(cuts.size(), 5u);
    EXPECT_GE(smallestGap(cuts), 0.8);
    EXPECT_EQ(store.project().audio->beatMarkers, markers);
    // The counter asks for one photo per spaced cut, and the slides follow them.
    const auto inside =
        std::count_if(cuts.begin(), cuts.end(), [&](double t) { return t > 0.05 && t < store.audioDuration(); });
    EXPECT_EQ(store.autoBeatRequiredPhotoCount(), inside);
    for (std::size_t i = 0; i + 1 < store.autoSyncBeatMarkers().size(); ++i)
        EXPECT_GE(store.project().slides[i + 1].duration, 0.8 - 1e-9) << i;

    // A cut the user placed by hand keeps its place; the detected one beside it gives way.
    const double kick = *std::find_if(cuts.begin(), cuts.end(), [](double t) { return t > 2.2 && t < 2.8; });
    store.addManualBeatMarker(kick + 0.3);
    store.setAutoBeatMinimumMarkerSpacing(0.8);
    const std::vector<BeatMarker>& after = store.audioBeatMarkers();
    const auto manual = std::find_if(after.begin(), after.end(), [](const BeatMarker& m) { return m.isManual; });
    ASSERT_NE(manual, after.end());
    EXPECT_TRUE(manual->isEnabled);
    EXPECT_GE(smallestGap(enabledTimes(after)), 0.8);
    EXPECT_EQ(after.size(), markers.size());

    // A smaller interval brings the switched-off markers back.
    store.setAutoBeatMinimumMarkerSpacing(0.15);
    EXPECT_EQ(enabledTimes(store.audioBeatMarkers()).size(), store.audioBeatMarkers().size());
}

// Taking back the last action takes back that action alone, markers included, also when the
// restored song has its instruments analysed again.
TEST_F(StoreInstrumentMarkers, UndoTakesBackOneSettingAtATime)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "banda", 8.5, {0.5, 1.0, 1.5});
    const fs::path drums = writeClickSong(m_folder.path(), "drums", 8.5, kickTimes);
    const fs::path bass = writeClickSong(m_folder.path(), "bass", 8.5, bassTimes);
    openSong(store, song, {AutoBeatInstrument::drums, AutoBeatInstrument::bass}, 4, 0.3);
    Access::setStemSourcePreparer(store, separatedStems(drums, bass));
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    const std::vector<BeatMarker> before = store.audioBeatMarkers();

    store.setAutoBeatMinimumMarkerSpacing(0.8);
    const std::vector<BeatMarker> spaced = store.audioBeatMarkers();
    const std::vector<double> spacedDurations = durations(store);
    ASSERT_NE(enabledTimes(spaced), enabledTimes(before));
    store.setCutAudioToSlideshowDuration(true);
    ASSERT_TRUE(store.project().audio->cutToSlideshowDuration);

    const auto undo = [&] {
        store.undoLastStep();
        // The light snapshot has no analyses: the restored song is analysed again.
        waitFor([&] { return store.isAnalyzingAudio(); }, 200);
        ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    };
    undo();
    EXPECT_FALSE(store.project().audio->cutToSlideshowDuration);
    EXPECT_EQ(store.project().audio->autoBeatMinimumMarkerSpacing, 0.8);
    EXPECT_EQ(enabledTimes(store.audioBeatMarkers()), enabledTimes(spaced)) << describe(store.audioBeatMarkers());
    EXPECT_EQ(durations(store), spacedDurations);

    undo();
    EXPECT_EQ(store.project().audio->autoBeatMinimumMarkerSpacing, 0.3);
    EXPECT_EQ(enabledTimes(store.audioBeatMarkers()), enabledTimes(before)) << describe(store.audioBeatMarkers());
}

// A step taken while an analysis ran holds the markers from before it: undoing to it lets
// the analysis that follows bring in what it finds, rather than keep the stale list.
TEST_F(StoreInstrumentMarkers, UndoToAStepTakenMidAnalysisTakesTheFreshMarkers)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_folder.path(), "banda", 8.5, {0.5, 1.0, 1.5});
    const fs::path drums = writeClickSong(m_folder.path(), "drums", 8.5, kickTimes);
    const fs::path bass = writeClickSong(m_folder.path(), "bass", 8.5, bassTimes);
    openSong(store, song, {AutoBeatInstrument::drums}, 4, 0.3);
    Access::setStemSourcePreparer(store, separatedStems(drums, bass));
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));

    const auto hasBass = [&] {
        const std::vector<BeatMarker>& markers = store.audioBeatMarkers();
        return std::count_if(markers.begin(), markers.end(), [](const BeatMarker& m) {
            return m.sourceInstrument == AutoBeatInstrument::bass;
        }) >= static_cast<std::ptrdiff_t>(bassTimes.size());
    };
    store.setAutoBeatInstrument(AutoBeatInstrument::bass, true);
    ASSERT_TRUE(store.isAnalyzingAudio());
    const Uuid first = store.project().slides[0].id;
    store.moveSlide(first, 4); // a step with bass chosen and no bass markers yet
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    ASSERT_TRUE(hasBass());

    store.undoLastStep();
    waitFor([&] { return store.isAnalyzingAudio(); }, 200);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 60000));
    EXPECT_TRUE(hasBass()) << describe(store.audioBeatMarkers());
}

// The first analysis separates the song with the installed runtime; reopening takes the
// stems and the analyses from the project's caches. What was saved comes back unchanged.
TEST_F(StoreInstrumentMarkers, ReopenedProjectKeepsItsMarkersAndCutsExactly)
{
    std::vector<BeatMarker> savedMarkers;
    std::vector<double> savedDurations;
    const fs::path song = writeClickSong(m_folder.path(), "banda", 8.5, kickTimes);
    {
        ProjectStore store;
        openSong(store, song, {AutoBeatInstrument::drums}, 4, 2.0);
        Access::analyzeInstrumentAudioAsync(store, true, true);
        ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 120000));
        ASSERT_EQ(store.project().audio->stemSeparation.engine, StemSeparationEngine::demucs)
            << store.project().audio->stemSeparation.message;
        // The user's own edits are part of what was saved: a detected cut switched off.
        const std::vector<double> cuts = enabledTimes(store.audioBeatMarkers());
        ASSERT_GE(cuts.size(), 4u);
        const std::vector<BeatMarker> before = store.audioBeatMarkers();
        const auto third = std::find_if(before.begin(), before.end(),
                                        [&](const BeatMarker& m) { return m.isEnabled && m.time == cuts[2]; });
        ASSERT_NE(third, before.end());
        store.toggleBeatMarkerEnabled(third->id);
        store.saveCurrentProjectImmediatelyIfPossible();
        savedMarkers = store.audioBeatMarkers();
        savedDurations = durations(store);
        ASSERT_EQ(savedMarkers.front().time, 0.0);
    }

    const auto reopen = [&](ProjectStore& store) {
        Access::setPhysicalMemory(store, 16 * gibibyte);
        ASSERT_TRUE(store.loadProject(m_projectURL));
        ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 120000));
        EXPECT_EQ(store.project().audio->stemSeparation.engine, StemSeparationEngine::demucs);
        EXPECT_EQ(store.audioBeatMarkers(), savedMarkers)
            << describe(store.audioBeatMarkers()) << "\nsaved: " << describe(savedMarkers);
        EXPECT_TRUE(store.project().audio->beatMarkers == savedMarkers);
        EXPECT_EQ(durations(store), savedDurations);
    };
    {
        ProjectStore store;
        reopen(store);
        EXPECT_EQ(store.audioAnalysisStatusMessage(), "Ondas separadas recuperadas: 1 instrumentos");
    }
    // The song's stem record lost (the file written by hand: a save would prune the stems it
    // no longer names): the stems are found again in the project's stem cache and analysed
    // anew, and they give the markers that were saved.
    FotivelaProject written = readProjectFile(m_projectURL);
    written.audio->stemSeparation = StemSeparationState{};
    ProjectFileWriter::write(written, m_projectURL);
    {
        ProjectStore store;
        reopen(store);
        EXPECT_EQ(store.project().audio->stemSeparation.message, "Stems reales recuperados de cache Demucs");
    }
}
