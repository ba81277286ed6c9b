#include "store_test_support.h"

#include "model/separation_work_folder.h"

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

// Generated songs and stem sets of the project folder after saves.
class StoreResources : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        m_file = m_root / "Proyectos/Fiesta/Fiesta.fotivela";
        m_folder = m_file.parent_path();
    }
    fs::path song(const std::string& name) const
    {
        const fs::path path = m_folder / "AI/GeneratedMusic" / name;
        writeText(path, "flac");
        return path;
    }
    fs::path stemSet(const std::string& id) const
    {
        const fs::path set = m_folder / "AI/Stems" / id;
        writeText(set / "htdemucs/cancion/drums.wav", "d");
        return set;
    }
    void useSong(ProjectStore& store, const fs::path& url, std::optional<fs::path> stems = std::nullopt)
    {
        store.modifyProject([&](FotivelaProject& p) {
            p.audio = makeTrack(SyncMode::autoBeatV2, url);
            if (stems) {
                p.audio->stemSeparation.cacheDirectory = *stems / "htdemucs/cancion";
                p.audio->stemSeparation.stems[AudioStem::drums] = *stems / "htdemucs/cancion/drums.wav";
            }
        });
    }

    fs::path m_file;
    fs::path m_folder;
};

TEST_F(StoreResources, OnlyWhatNobodyRefersToIsPruned)
{
    ProjectStore store;
    store.setCurrentProjectURL(m_file);
    const fs::path first = song("primera.flac");
    const fs::path firstStems = stemSet("AAA");
    const fs::path second = song("segunda.flac");
    const fs::path orphan = song("huerfana.flac");
    const fs::path orphanStems = stemSet("BBB");
    // A running separation holds its work folder; one that a killed program left holds nothing.
    const fs::path work = m_folder / "AI/Stems/.separation-1234";
    writeText(work / "out.wav", "w");
    const SeparationWorkFolder::Lock running(work);
    const fs::path abandoned = m_folder / "AI/Stems/.separation-5678";
    writeText(abandoned / "out.wav", "w");

    useSong(store, first, firstStems);
    store.registerUndoStep();
    // The song is replaced; only the undo step still refers to the first one.
    useSong(store, second);
    store.saveCurrentProjectImmediatelyIfPossible();

    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(firstStems));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_TRUE(fs::exists(work / "out.wav"));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_FALSE(fs::exists(orphanStems));
}

TEST_F(StoreResources, AReferenceThatDoesNotResolveStopsThePruning)
{
    ProjectStore store;
    store.setCurrentProjectURL(m_file);
    const fs::path kept = song("generada.flac");
    // A project folder that was moved: its song still names the old place.
    useSong(store, m_root / "antes/Fiesta/AI/GeneratedMusic/generada.flac");
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(fs::exists(kept));

    // A copied folder whose song still lies in the original project's folder.
    const fs::path original = m_root / "Original/AI/GeneratedMusic/generada.flac";
    writeText(original, "flac");
    useSong(store, original);
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(fs::exists(kept));
}

TEST_F(StoreResources, AProjectReachedThroughALinkKeepsItsSong)
{
    ProjectStore store;
    const fs::path generated = song("generada.flac");
    const fs::path stems = stemSet("CCC");
    fs::create_directory_symlink(m_root / "Proyectos", m_root / "Enlace");
    const fs::path linked = m_root / "Enlace/Fiesta";
    store.setCurrentProjectURL(linked / "Fiesta.fotivela");
    useSong(store, generated, stems);
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(fs::exists(generated));
    EXPECT_TRUE(fs::exists(stems / "htdemucs/cancion/drums.wav"));

    useSong(store, linked / "AI/GeneratedMusic/generada.flac");
    store.setCurrentProjectURL(m_file);
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(fs::exists(generated));
    EXPECT_FALSE(fs::exists(stems));
}

TEST_F(StoreResources, ABackgroundSaveThatEndsAfterASwitchKeepsItsSong)
{
    ProjectStore store;
    ChangeLog log(store);
    store.setCurrentProjectURL(m_file);
    const fs::path generated = song("generada.flac");
    useSong(store, generated);
    // Large enough that its write outlasts the switch below.
    store.modifyProject([](FotivelaProject& p) { p.audio->waveformSamples.assign(100000, 0.5); });
    store.saveCurrentProjectSilentlyIfPossible();
    ASSERT_TRUE(waitFor([&] { return !store.hasPendingAutosave(); }, 3000));

    store.setProject(FotivelaProject::empty());
    store.setCurrentProjectURL(m_root / "Proyectos/Otro/Otro.fotivela");
    ASSERT_TRUE(waitFor([&] { return log.count(StoreField::recentProjects) > 0; }, 10000));
    EXPECT_TRUE(fs::exists(m_file));
    EXPECT_TRUE(fs::exists(generated));
}

} // namespace
