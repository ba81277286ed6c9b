#pragma once

#include "model/fotivela_project.h"
#include "store/project_store.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fotivela {

struct ProjectStoreTestAccess {
    static void storeBeatMarkers(ProjectStore& store, std::vector<BeatMarker> markers, bool markDirty,
                                 bool isUserEdit = true)
    {
        store.storeBeatMarkers(std::move(markers), markDirty, isUserEdit);
    }
    static void regenerateAttackBeatMarkers(ProjectStore& store) { store.regenerateAttackBeatMarkers(); }
    static double startTime(const ProjectStore& store, std::int64_t index) { return store.startTime(index); }
    static double snapTimelineEditTime(ProjectStore& store, double time) { return store.snapTimelineEditTime(time); }
};

} // namespace fotivela

namespace fotivela::test {

// Every store test gets its own storage root: the preferences and recent list live there.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        m_root = std::filesystem::temp_directory_path()
            / ("fotivela-store-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_root / "suite");
        setenv("DUSKMERE_TEST_ROOT", (m_root / "suite").c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    std::filesystem::path m_root;
};

// Records every change notification of a store.
class ChangeLog {
public:
    explicit ChangeLog(ProjectStore& store) : m_store(store)
    {
        m_id = store.addObserver([this](StoreField field) { m_fields.push_back(field); });
    }
    ~ChangeLog() { m_store.removeObserver(m_id); }
    int count(StoreField field) const
    {
        int n = 0;
        for (StoreField f : m_fields)
            n += f == field;
        return n;
    }
    std::size_t total() const { return m_fields.size(); }
    void clear() { m_fields.clear(); }

private:
    ProjectStore& m_store;
    ProjectStore::ObserverID m_id = 0;
    std::vector<StoreField> m_fields;
};

inline Slide makeSlide(double duration, std::string name = "foto.jpg")
{
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = "/fotos/" + name;
    slide.name = std::move(name);
    slide.duration = duration;
    return slide;
}

inline BeatMarker makeMarker(double time, bool enabled = true, bool manual = false,
                             std::optional<AutoBeatInstrument> source = std::nullopt)
{
    BeatMarker marker;
    marker.id = Uuid::random();
    marker.time = time;
    marker.strength = 0.5;
    marker.isEnabled = enabled;
    marker.isManual = manual;
    marker.sourceInstrument = source;
    return marker;
}

inline AudioTrack makeTrack(SyncMode mode, std::filesystem::path url = "/musica/cancion.mp3")
{
    AudioTrack track;
    track.url = std::move(url);
    track.name = "cancion";
    track.syncMode = mode;
    track.fadeIn = true;
    track.fadeOut = true;
    track.beatSensitivity = 0.5;
    track.beatsPerBar = 4;
    track.snapTolerance = 0.12;
    track.isAttackWaveformEnabled = false;
    return track;
}

// Runs the event loop until the condition holds or the time is up.
template <class Condition> bool waitFor(Condition condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

} // namespace fotivela::test
