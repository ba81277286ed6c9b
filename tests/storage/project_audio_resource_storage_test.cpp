#include "model/app_text.h"
#include "model/project_audio_resource_storage.h"
#include "model/separation_work_folder.h"
#include "stem_runtime/demucs_runtime_installer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace fotivela;
namespace storage = fotivela::ProjectAudioResourceStorage;

namespace {

class ProjectAudioResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        m_root = fs::temp_directory_path() / ("fotivela-resources-" + std::to_string(random()));
        fs::create_directories(m_root / "Mi video");
        m_project = m_root / "Mi video" / "Mi video.fotivela";
        write(m_project, "{}");
    }
    void TearDown() override { fs::remove_all(m_root); }

    static void write(const fs::path& path, const std::string& text)
    {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    fs::path folder() const { return m_project.parent_path(); }
    fs::path song(const std::string& name) const { return folder() / "AI/GeneratedMusic" / name; }
    fs::path stemSet(const std::string& name) const
    {
        const fs::path set = folder() / "AI/Stems" / name;
        write(set / "htdemucs/cancion/drums.flac", "d");
        write(set / "htdemucs/cancion/bass.flac", "b");
        return set;
    }

    fs::path m_root;
    fs::path m_project;
};

TEST_F(ProjectAudioResources, OwnershipRefusesTheRootLinksAndMissingPaths)
{
    const fs::path set = stemSet("ABC");
    EXPECT_TRUE(storage::isOwnedURL(set, m_project));
    EXPECT_TRUE(storage::isOwnedURL(set / "htdemucs/cancion/drums.flac", m_project));
    EXPECT_FALSE(storage::isOwnedURL(folder(), m_project));
    EXPECT_FALSE(storage::isOwnedURL(folder() / "AI/Stems/missing", m_project));
    EXPECT_FALSE(storage::isOwnedURL(m_root / "elsewhere", m_project));

    // A link inside the project that leads out of it is never the project's own.
    write(m_root / "outside/file.flac", "x");
    fs::create_directory_symlink(m_root / "outside", folder() / "AI/Stems/escape");
    EXPECT_FALSE(storage::isOwnedURL(folder() / "AI/Stems/escape/file.flac", m_project));

    using DemucsRuntimeInstaller::isOwnedDirectory;
    EXPECT_TRUE(isOwnedDirectory(set));
    EXPECT_TRUE(isOwnedDirectory(set / ""));
    EXPECT_FALSE(isOwnedDirectory(folder() / "AI/Stems/escape"));
    EXPECT_FALSE(isOwnedDirectory(folder() / "AI/Stems/escape" / ""));
    EXPECT_FALSE(isOwnedDirectory(set / "htdemucs/cancion/drums.flac"));
    EXPECT_FALSE(isOwnedDirectory(folder() / "AI/Stems/missing"));

    const fs::path music = folder() / "AI/GeneratedMusic";
    write(song("a.flac"), "a");
    EXPECT_TRUE(storage::isRegularOwnedFile(song("a.flac"), music));
    EXPECT_FALSE(storage::isRegularOwnedFile(music, music));
    fs::create_directory(music / "sub");
    EXPECT_FALSE(storage::isRegularOwnedFile(music / "sub", music));
}

TEST_F(ProjectAudioResources, ProjectFolderReachedThroughALinkStillOwnsItsResources)
{
    const fs::path set = stemSet("ABC");
    fs::create_directory_symlink(folder(), m_root / "alias");
    const fs::path aliasProject = m_root / "alias" / "Mi video.fotivela";
    EXPECT_TRUE(storage::isOwnedURL(set, aliasProject));
    EXPECT_TRUE(storage::isOwnedURL(m_root / "alias/AI/Stems/ABC", m_project));

    // Saved through the alias with the song stored under the real path: nothing in use goes.
    write(song("kept.flac"), "k");
    write(song("old.flac"), "o");
    storage::pruneUnreferencedResources(aliasProject, {song("kept.flac"), set / "htdemucs/cancion/drums.flac"});
    EXPECT_TRUE(fs::exists(song("kept.flac")));
    EXPECT_FALSE(fs::exists(song("old.flac")));
    EXPECT_TRUE(fs::exists(set / "htdemucs/cancion/bass.flac"));
}

TEST_F(ProjectAudioResources, UniqueNamesCountUpAndTreatDanglingLinksAsTaken)
{
    const fs::path music = folder() / "AI/GeneratedMusic";
    fs::create_directories(music);
    EXPECT_EQ(storage::uniqueDestination("tema.flac", music), music / "tema.flac");
    write(music / "tema.flac", "1");
    write(music / "tema-2.flac", "2");
    EXPECT_EQ(storage::uniqueDestination("tema.flac", music), music / "tema-3.flac");
    write(music / "tema", "1");
    EXPECT_EQ(storage::uniqueDestination("tema", music), music / "tema-2");
    fs::create_symlink(m_root / "nowhere", music / "x.wav");
    EXPECT_EQ(storage::uniqueDestination("x.wav", music), music / "x-2.wav");

    fs::create_directories(m_root / "p/X");
    EXPECT_EQ(storage::uniqueDirectory("X", m_root / "p"), m_root / "p/X-2");
    fs::create_directories(m_root / "p/X-2");
    EXPECT_EQ(storage::uniqueDirectory("X", m_root / "p"), m_root / "p/X-3");
}

TEST_F(ProjectAudioResources, CopyingStemSetsTakesOnlyPlainOwnedTrees)
{
    const fs::path set = stemSet("X");
    const fs::path other = m_root / "Otro/Otro.fotivela";
    write(other, "{}");
    write(other.parent_path() / "AI/Stems/X/keep.txt", "mine");

    const auto copied = storage::copyOwnedStemDirectory(set, m_project, other);
    ASSERT_TRUE(copied);
    EXPECT_EQ(*copied, other.parent_path() / "AI/Stems/X-2");
    EXPECT_TRUE(fs::exists(*copied / "htdemucs/cancion/drums.flac"));
    EXPECT_TRUE(fs::exists(other.parent_path() / "AI/Stems/X/keep.txt"));
    EXPECT_EQ(*storage::copyOwnedStemDirectory(set, m_project, other), other.parent_path() / "AI/Stems/X-3");

    // Not below the stems folder, a link itself, or holding a link somewhere inside.
    write(folder() / "AI/GeneratedMusic/dir/a.flac", "a");
    EXPECT_FALSE(storage::copyOwnedStemDirectory(folder() / "AI/GeneratedMusic/dir", m_project, other));
    fs::create_directory_symlink(set, folder() / "AI/Stems/L");
    EXPECT_FALSE(storage::copyOwnedStemDirectory(folder() / "AI/Stems/L", m_project, other));
    // Folder URLs are stored with a final slash; the link must not be looked through.
    EXPECT_FALSE(storage::copyOwnedStemDirectory(folder() / "AI/Stems/L/", m_project, other));
    const fs::path linked = stemSet("Y");
    fs::create_symlink(m_project, linked / "htdemucs/cancion/link.flac");
    EXPECT_FALSE(storage::copyOwnedStemDirectory(linked, m_project, other));
}

TEST_F(ProjectAudioResources, PruningKeepsWhatIsReferencedOrInFlightAndLeavesOddTreesAlone)
{
    write(song("a.flac"), "a");
    write(song("b.flac"), "b");
    write(song(".generated-1234.flac"), "partial");
    const fs::path kept = stemSet("KEPT");
    const fs::path dropped = stemSet("DROP");
    // A separation that runs holds its work folder; one a killed program left holds nothing.
    const fs::path work = stemSet(".separation-5678");
    const fs::path abandoned = stemSet(".separation-9999");
    const SeparationWorkFolder::Lock running(work);
    const fs::path odd = stemSet("ODD");
    fs::create_symlink(m_project, odd / "link");
    ASSERT_EQ(::mkfifo((stemSet("FIFO") / "pipe").c_str(), 0600), 0);

    // Only one file inside a stem set is retained: the whole set stays.
    storage::pruneUnreferencedResources(m_project, {song("a.flac"), kept / "htdemucs/cancion/bass.flac"});
    EXPECT_TRUE(fs::exists(song("a.flac")));
    EXPECT_FALSE(fs::exists(song("b.flac")));
    EXPECT_TRUE(fs::exists(song(".generated-1234.flac")));
    EXPECT_TRUE(fs::exists(kept / "htdemucs/cancion/drums.flac"));
    EXPECT_FALSE(fs::exists(dropped));
    EXPECT_TRUE(fs::exists(work / "htdemucs/cancion/drums.flac"));
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(odd));
    EXPECT_TRUE(fs::exists(folder() / "AI/Stems/FIFO"));

    storage::pruneUnreferencedResources(m_project, {});
    EXPECT_FALSE(fs::exists(song("a.flac")));
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_TRUE(fs::exists(work));
    EXPECT_TRUE(fs::exists(m_project));
}

TEST_F(ProjectAudioResources, PruningLeavesStemSetsThatAreNotTheProjectsOwn)
{
    // "AI" moved to another disk and linked back: its stem sets do not lie below the project.
    const fs::path elsewhere = m_root / "disco";
    write(elsewhere / "AI/Stems/KEPT/htdemucs/cancion/drums.flac", "d");
    write(elsewhere / "AI/Stems/OTHER/htdemucs/cancion/drums.flac", "o");
    fs::create_directory_symlink(elsewhere / "AI", folder() / "AI");

    storage::pruneUnreferencedResources(m_project, {folder() / "AI/Stems/KEPT/htdemucs/cancion/drums.flac"});
    EXPECT_TRUE(fs::exists(elsewhere / "AI/Stems/KEPT/htdemucs/cancion/drums.flac"));
    EXPECT_TRUE(fs::exists(elsewhere / "AI/Stems/OTHER"));
}

TEST(ProjectAudioResourceErrors, ShowTheGenericFailureText)
{
    for (const auto errorCase : {storage::StorageErrorCase::invalidOwnedPath, storage::StorageErrorCase::conversionFailed}) {
        const storage::StorageError error(errorCase);
        EXPECT_EQ(error.errorCase(), errorCase);
        EXPECT_STREQ(error.what(), "No se ha podido completar la operación.");
        EXPECT_EQ(AppText::translate(error.what(), AppLanguage::english), "The operation could not be completed.");
    }
}

TEST_F(ProjectAudioResources, MissingMusicFolderStillPrunesStems)
{
    const fs::path set = stemSet("S");
    storage::pruneUnreferencedResources(m_project, {});
    EXPECT_FALSE(fs::exists(set));

    // A foreign file sitting in the stems folder is not a stem set and stays.
    write(folder() / "AI/Stems/notes.txt", "n");
    storage::pruneUnreferencedResources(m_project, {});
    EXPECT_TRUE(fs::exists(folder() / "AI/Stems/notes.txt"));
}

} // namespace
