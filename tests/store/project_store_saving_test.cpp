#include "store_test_support.h"

#include "model/project_json.h"

#include <QElapsedTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <sstream>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

FotivelaProject readProject(const fs::path& path)
{
    return decodeProject(readText(path));
}

std::size_t entryCount(const fs::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

class StoreSaving : public StoreTest {
protected:
    // What creating a project does: a named project, its file, the editor and a first save.
    void open(ProjectStore& store, const std::string& name)
    {
        FotivelaProject project = FotivelaProject::empty();
        project.name = name;
        store.setProject(project);
        store.setCurrentProjectURL(fileFor(name));
        store.setRoute(AppRoute::editor);
        store.saveCurrentProjectImmediatelyIfPossible();
    }
    fs::path fileFor(const std::string& name) const { return m_root / "Proyectos" / name / (name + ".fotivela"); }

    // An edit as every editing operation makes it: undo step, change, touch, autosave.
    static void addSlide(ProjectStore& store, double duration)
    {
        store.registerUndoStep();
        store.modifyProject([&](FotivelaProject& p) { p.slides.push_back(makeSlide(duration)); });
        store.recalculateTotalDuration();
        store.modifyProject([](FotivelaProject& p) { p.updatedAt = std::chrono::system_clock::now(); });
        store.setHasUnsavedChanges(true);
        store.saveCurrentProjectSilentlyIfPossible();
    }
};

TEST_F(StoreSaving, EditsReachTheFileThroughTheAutosave)
{
    ProjectStore store;
    open(store, "Boda");
    const fs::path file = fileFor("Boda");
    ASSERT_TRUE(fs::exists(file));
    EXPECT_FALSE(store.hasUnsavedChanges());
    ASSERT_FALSE(store.recentProjects().empty());
    EXPECT_EQ(store.recentProjects().front().url, file);
    EXPECT_EQ(store.recentProjects().front().name, "Boda");

    addSlide(store, 3);
    addSlide(store, 4);
    store.modifyProject([](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2);
        p.audio->beatMarkers = {makeMarker(1.5, true, true)};
        p.audio->waveformSamples = {0.1, 0.25, 1.0 / 3.0};
    });
    store.setHasUnsavedChanges(true);
    store.saveCurrentProjectSilentlyIfPossible();
    EXPECT_TRUE(store.hasUnsavedChanges());
    ASSERT_TRUE(waitFor([&] { return !store.hasUnsavedChanges(); }, 3000));

    const FotivelaProject onDisk = readProject(file);
    // Dates are written to the whole second; everything else comes back as it was.
    FotivelaProject expected = store.project();
    expected.createdAt = onDisk.createdAt;
    expected.updatedAt = onDisk.updatedAt;
    EXPECT_EQ(onDisk, expected);
    EXPECT_EQ(onDisk.slides.size(), 2u);
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(store.project().updatedAt), onDisk.updatedAt);
}

TEST_F(StoreSaving, ABurstOfEditsIsWrittenOnceAfterTheLast)
{
    ProjectStore store;
    open(store, "Viaje");
    ChangeLog log(store);
    QElapsedTimer sinceLast;
    for (int i = 0; i < 3; ++i) {
        addSlide(store, 2);
        sinceLast.start();
        waitFor([] { return false; }, 200);
    }
    ASSERT_TRUE(waitFor([&] { return log.count(StoreField::recentProjects) > 0; }, 3000));
    const qint64 elapsed = sinceLast.elapsed();
    EXPECT_GE(elapsed, 650);
    EXPECT_LT(elapsed, 1500);
    waitFor([] { return false; }, 900);
    EXPECT_EQ(log.count(StoreField::recentProjects), 1);
    EXPECT_EQ(readProject(fileFor("Viaje")).slides.size(), 3u);
}

TEST_F(StoreSaving, AnImmediateSaveTakesThePendingAutosaveAlong)
{
    ProjectStore store;
    open(store, "Cumple");
    ChangeLog log(store);
    addSlide(store, 2);
    ASSERT_TRUE(store.hasPendingAutosave());
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_FALSE(store.hasPendingAutosave());
    waitFor([] { return false; }, 1000);
    EXPECT_EQ(log.count(StoreField::recentProjects), 1);
}

TEST_F(StoreSaving, SlidesAreRenumberedAndAProjectWithoutFileIsNotWritten)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) {
        for (int order : {5, 2, 9}) {
            p.slides.push_back(makeSlide(1));
            p.slides.back().order = order;
        }
    });
    store.setHasUnsavedChanges(true);
    const std::vector<RecentProject> recent = store.recentProjects();
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(store.recentProjects(), recent);

    store.setCurrentProjectURL(fileFor("Orden"));
    store.saveCurrentProjectImmediatelyIfPossible();
    const FotivelaProject onDisk = readProject(fileFor("Orden"));
    ASSERT_EQ(onDisk.slides.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(onDisk.slides[i].order, static_cast<std::int64_t>(i));
        EXPECT_EQ(onDisk.slides[i].id, store.project().slides[i].id);
    }
}

TEST_F(StoreSaving, AStoreThatIsGoneWritesNothing)
{
    {
        ProjectStore store;
        store.setCurrentProjectURL(fileFor("Nunca"));
        addSlide(store, 1);
    }
    waitFor([] { return false; }, 1000);
    EXPECT_FALSE(fs::exists(fileFor("Nunca")));
}

TEST_F(StoreSaving, AFailedSaveKeepsTheOldFileAndTheEdits)
{
    ProjectStore store;
    open(store, "Fallo");
    const fs::path file = fileFor("Fallo");
    addSlide(store, 2);
    store.saveCurrentProjectImmediatelyIfPossible();
    const std::string before = readText(file);

    // A number that JSON cannot hold: nothing is written.
    addSlide(store, std::numeric_limits<double>::infinity());
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Analisis guardado en memoria; no se pudo actualizar el archivo");
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(store.project().slides.size(), 2u);
    EXPECT_EQ(readText(file), before);
    EXPECT_EQ(entryCount(file.parent_path()), 1u);

    // The project's folder replaced by a file: the folder cannot be made.
    store.modifyProject([](FotivelaProject& p) { p.slides.back().duration = 3; });
    const fs::path blocked = m_root / "Bloqueado" / "Fallo.fotivela";
    writeText(m_root / "Bloqueado", "no soy una carpeta");
    store.setCurrentProjectURL(blocked);
    store.setAudioAnalysisStatusMessage("");
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Analisis guardado en memoria; no se pudo actualizar el archivo");
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(readText(m_root / "Bloqueado"), "no soy una carpeta");

    // Its folder deleted while the project is open: the save makes it again.
    store.setCurrentProjectURL(file);
    fs::remove_all(file.parent_path());
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_EQ(readProject(file).slides.size(), 2u);
}

TEST_F(StoreSaving, AProjectFileThatIsALinkIsSavedThroughTheLink)
{
    ProjectStore store;
    open(store, "Real");
    const fs::path real = fileFor("Real");
    fs::permissions(real, fs::perms(0644));
    // Two relative links: the project's file links to a link, which leads to the real file.
    fs::create_directories(m_root / "Enlaces");
    fs::create_symlink("../Proyectos/Real/Real.fotivela", m_root / "Enlaces" / "medio.fotivela");
    const fs::path link = m_root / "Enlaces" / "Enlace.fotivela";
    fs::create_symlink("medio.fotivela", link);

    store.setCurrentProjectURL(link);
    addSlide(store, 2);
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_FALSE(store.hasUnsavedChanges());

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(m_root / "Enlaces" / "medio.fotivela"));
    EXPECT_EQ(readProject(real).slides.size(), 1u);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0644));
    EXPECT_EQ(entryCount(m_root / "Enlaces"), 2u);
    EXPECT_EQ(entryCount(real.parent_path()), 1u);

    // A loop of links is a failed save, not a hang.
    fs::remove(m_root / "Enlaces" / "medio.fotivela");
    fs::create_symlink("Enlace.fotivela", m_root / "Enlaces" / "medio.fotivela");
    addSlide(store, 3);
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(readProject(real).slides.size(), 1u);
}

TEST_F(StoreSaving, TheAutosaveWritesAsideAndKeepsLaterEdits)
{
    ProjectStore store;
    open(store, "Grande");
    const fs::path file = fileFor("Grande");
    ChangeLog log(store);

    // Large enough that its write is still under way when the edit below is made.
    store.modifyProject([](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::manual);
        p.audio->waveformSamples.assign(150000, 0.123456789);
    });
    store.setHasUnsavedChanges(true);
    store.saveCurrentProjectSilentlyIfPossible();
    ASSERT_TRUE(waitFor([&] { return !store.hasPendingAutosave(); }, 3000));
    store.modifyProject([](FotivelaProject& p) { p.name = "Grande y nuevo"; });
    store.setHasUnsavedChanges(true);
    ASSERT_TRUE(waitFor([&] { return log.count(StoreField::recentProjects) > 0; }, 10000));
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(readProject(file).name, "Grande");
    EXPECT_EQ(readProject(file).audio->waveformSamples.size(), 150000u);

    // A background write that fails says so and keeps the edits; the old file stays.
    const std::string before = readText(file);
    fs::remove_all(m_root / "Bloqueado");
    writeText(m_root / "Bloqueado", "archivo");
    store.setCurrentProjectURL(m_root / "Bloqueado/Grande.fotivela");
    store.saveCurrentProjectSilentlyIfPossible();
    ASSERT_TRUE(waitFor([&] { return !store.audioAnalysisStatusMessage().empty(); }, 10000));
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Analisis guardado en memoria; no se pudo actualizar el archivo");
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(store.project().name, "Grande y nuevo");
    EXPECT_EQ(readText(file), before);
}

// The tests may run as root, whom permission bits do not stop: the child then gives up its rights.
TEST_F(StoreSaving, AReadOnlyFolderKeepsTheOldFile)
{
    ProjectStore store;
    open(store, "Solo lectura");
    const fs::path file = fileFor("Solo lectura");
    const std::string before = readText(file);
    fs::permissions(file.parent_path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
                        | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        addSlide(store, 2);
        store.saveCurrentProjectImmediatelyIfPossible();
        const bool reported = store.hasUnsavedChanges() && store.project().slides.size() == 1
            && store.audioAnalysisStatusMessage() == "Analisis guardado en memoria; no se pudo actualizar el archivo";
        _exit(reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(file.parent_path(), fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readText(file), before);
    EXPECT_EQ(entryCount(file.parent_path()), 1u);
}

// A child whose files may not grow past a few kilobytes stands for a full disk.
TEST_F(StoreSaving, AFullDiskKeepsTheOldFile)
{
    ProjectStore store;
    open(store, "Lleno");
    const fs::path file = fileFor("Lleno");
    const std::string before = readText(file);

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        store.modifyProject([](FotivelaProject& p) {
            for (int i = 0; i < 200; ++i)
                p.slides.push_back(makeSlide(1));
        });
        store.setHasUnsavedChanges(true);
        store.saveCurrentProjectImmediatelyIfPossible();
        const bool reported = store.hasUnsavedChanges() && store.project().slides.size() == 200
            && store.audioAnalysisStatusMessage() == "Analisis guardado en memoria; no se pudo actualizar el archivo";
        _exit(reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readText(file), before);
    EXPECT_EQ(entryCount(file.parent_path()), 1u);
}

// Killed at any moment of a save, the file holds the old project or the new one.
TEST_F(StoreSaving, AKilledSaveLeavesTheOldOrTheNewProject)
{
    ProjectStore store;
    open(store, "Corte");
    const fs::path file = fileFor("Corte");
    std::mt19937 random(12345);
    int rewritten = 0;

    for (int round = 0; round < 200; ++round) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // Alternates two projects that tell each other apart by name and slide count.
            for (int i = 0;; ++i) {
                store.modifyProject([&](FotivelaProject& p) {
                    p.name = i % 2 ? "Corte impar" : "Corte par";
                    p.slides.assign(i % 2 ? 40 : 25, makeSlide(1.5));
                });
                store.saveCurrentProjectImmediatelyIfPossible();
            }
        }
        usleep(std::uniform_int_distribution<int>(500, 20000)(random));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        FotivelaProject onDisk;
        ASSERT_NO_THROW(onDisk = readProject(file)) << "round " << round;
        const bool original = onDisk.name == "Corte" && onDisk.slides.empty();
        const bool even = onDisk.name == "Corte par" && onDisk.slides.size() == 25;
        const bool odd = onDisk.name == "Corte impar" && onDisk.slides.size() == 40;
        EXPECT_TRUE(original || even || odd) << "round " << round << ": " << onDisk.name;
        rewritten += !original;
    }
    // The children did get to write: the kills fell among real saves.
    EXPECT_GT(rewritten, 100);
}

} // namespace
