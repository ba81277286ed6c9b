#include "store_test_support.h"

#include "model/project_json.h"
#include "support/test_audio.h"

#include <QString>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using StoreHistory = StoreTest;

std::string names(const ProjectStore& store)
{
    std::string text;
    for (const Slide& slide : store.project().slides)
        text += slide.name.substr(0, 1);
    return text;
}

TEST_F(StoreHistory, CreatingAProjectWritesItsFolderAtOnce)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root / "Proyectos");
    store.setIsNewProjectDialogPresented(true);
    store.setAudioWaveform({0.5});

    store.createProject("  Viaje \n");
    EXPECT_EQ(store.currentProjectURL(), m_root / "Proyectos/Viaje/Viaje.fotivela");
    EXPECT_TRUE(fs::exists(m_root / "Proyectos/Viaje/Viaje.fotivela"));
    EXPECT_EQ(store.project().name, "Viaje");
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_FALSE(store.isNewProjectDialogPresented());
    EXPECT_TRUE(store.audioWaveform().empty());
    EXPECT_EQ(store.route(), AppRoute::editor);
    EXPECT_EQ(store.activeTab(), EditorTab::photos);
    ASSERT_FALSE(store.recentProjects().empty());
    EXPECT_EQ(store.recentProjects().front().url, m_root / "Proyectos/Viaje/Viaje.fotivela");

    store.createProject("   ");
    EXPECT_EQ(store.currentProjectURL(), m_root / "Proyectos/Nuevo video/Nuevo video.fotivela");

    // A name that is taken gets a free one; the existing project and its songs stay untouched.
    fs::create_directories(m_root / "Proyectos/Viaje/AI/GeneratedMusic");
    writeTextFile(m_root / "Proyectos/Viaje/AI/GeneratedMusic/cancion.flac", "audio");
    const std::string before = [&] {
        std::ifstream in(m_root / "Proyectos/Viaje/Viaje.fotivela");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    store.createProject("Viaje");
    EXPECT_EQ(store.currentProjectURL(), m_root / "Proyectos/Viaje-2/Viaje-2.fotivela");
    EXPECT_EQ(store.project().name, "Viaje-2");
    std::ifstream in(m_root / "Proyectos/Viaje/Viaje.fotivela");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
    EXPECT_TRUE(fs::exists(m_root / "Proyectos/Viaje/AI/GeneratedMusic/cancion.flac"));

    store.createProject("..");
    EXPECT_EQ(store.currentProjectURL()->parent_path().parent_path(), m_root / "Proyectos");
    EXPECT_TRUE(store.undoStack().empty());
}

TEST_F(StoreHistory, CreatingAProjectRightAfterAnEditKeepsThatEditInThePreviousFile)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root);
    store.createProject("Primero");
    store.importPhotos({m_root / "a.jpg"});
    store.applyDurationToEditableSlides(9);
    ASSERT_TRUE(store.hasPendingAutosave());
    store.createProject("Segundo");

    std::ifstream in(m_root / "Primero/Primero.fotivela");
    const FotivelaProject saved = decodeProject(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_EQ(saved.slides.size(), 1u);
    EXPECT_EQ(saved.slides[0].duration, 9);
    EXPECT_EQ(saved.name, "Primero");
}

bool isValidUtf8(const std::string& text)
{
    return QString::fromUtf8(text).toUtf8().toStdString() == text;
}

TEST_F(StoreHistory, AVeryLongNameIsShortenedOnDiskAndShownWhole)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root);
    // 300 bytes of two-byte letters: a cut at an odd count of bytes would split one.
    std::string name;
    for (int i = 0; i < 150; ++i)
        name += "ñ";
    store.createProject(name);
    const fs::path file = *store.currentProjectURL();
    EXPECT_EQ(store.project().name, name);
    ASSERT_TRUE(fs::exists(file));
    const std::string folder = file.parent_path().filename().string();
    EXPECT_LE(folder.size(), 200u);
    EXPECT_TRUE(isValidUtf8(folder)) << folder;
    EXPECT_EQ(file.filename().string(), folder + ".fotivela");
    EXPECT_EQ(file.parent_path().parent_path(), m_root);
    std::ifstream in(file);
    EXPECT_EQ(decodeProject(std::string(std::istreambuf_iterator<char>(in), {})).name, name);

    // The same name again, and one that differs only past the cut, each get a folder of their own.
    store.createProject(name);
    EXPECT_EQ(store.project().name, name + "-2");
    EXPECT_NE(store.currentProjectURL()->parent_path(), file.parent_path());
    EXPECT_TRUE(fs::exists(*store.currentProjectURL()));
    store.createProject(name + "a");
    EXPECT_NE(store.currentProjectURL()->parent_path(), file.parent_path());
    EXPECT_TRUE(fs::exists(*store.currentProjectURL()));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 4) << "suite and three projects";
}

TEST_F(StoreHistory, UndoWalksBackThroughEveryStep)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root);
    store.createProject("Paseo");
    const fs::path url = *store.currentProjectURL();

    store.importPhotos({m_root / "a.jpg", m_root / "b.jpg", m_root / "c.jpg"});      // step 1
    const Uuid a = store.project().slides[0].id;
    const Uuid c = store.project().slides[2].id;
    store.moveSlide(c, 0);                                                             // step 2
    store.applyDurationToEditableSlides(6);                                            // step 3: c
    store.updateSlideTitle(a, [](Slide& s) { s.title = "Hola"; });                    // step 4
    store.setTitleScreenMode(TitleSlidePlacement::initial, true);                      // step 5
    store.setTimelineSelection({a});
    store.deleteSelectedSlide();                                                       // step 6
    ASSERT_EQ(store.undoStack().size(), 6u);
    EXPECT_EQ(names(store), "Pcb");

    store.undoLastStep();
    EXPECT_EQ(names(store), "Pcab");
    EXPECT_EQ(store.timelineSelection(), std::set<Uuid>{a});
    store.undoLastStep();
    EXPECT_EQ(names(store), "cab");
    EXPECT_EQ(store.project().slides[1].title, "Hola");
    store.undoLastStep();
    EXPECT_EQ(store.project().slides[1].title, "");
    EXPECT_EQ(store.totalDuration(), 14);
    store.undoLastStep();
    EXPECT_EQ(names(store), "cab");
    EXPECT_EQ(store.totalDuration(), 12);
    store.undoLastStep();
    EXPECT_EQ(names(store), "abc");
    store.undoLastStep();
    EXPECT_EQ(names(store), "");
    EXPECT_EQ(store.totalDuration(), 0);
    EXPECT_EQ(store.currentProjectURL(), url);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());

    // An empty history changes nothing at all.
    store.saveCurrentProjectImmediatelyIfPossible();
    EXPECT_FALSE(store.hasUnsavedChanges());
    store.undoLastStep();
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_FALSE(store.hasPendingAutosave());
}

TEST_F(StoreHistory, UndoAfterCreatingAnotherProjectReturnsToTheFirst)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root);
    store.createProject("Primero");
    store.importPhotos({m_root / "a.jpg"});
    store.applyDurationToEditableSlides(9);
    store.createProject("Segundo");
    EXPECT_TRUE(store.project().slides.empty());

    store.undoLastStep();
    EXPECT_EQ(store.currentProjectURL(), m_root / "Primero/Primero.fotivela");
    EXPECT_EQ(store.project().name, "Primero");
    ASSERT_EQ(store.project().slides.size(), 1u);
    EXPECT_EQ(store.project().slides[0].duration, 4);
    // The autosave writes it into the first project's file, not the second's.
    ASSERT_TRUE(waitFor([&] { return !store.hasUnsavedChanges(); }, 5000));
    std::ifstream in(m_root / "Primero/Primero.fotivela");
    const FotivelaProject saved = decodeProject(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(saved.slides.size(), 1u);
}

TEST_F(StoreHistory, UndoStopsPlaybackAndKeepsThePlayheadOnTheTimeline)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) { p.slides = {makeSlide(4), makeSlide(4)}; });
    store.recalculateTotalDuration();
    store.setPreviewTime(20);
    store.registerUndoStep();
    store.setPreviewTime(1);
    store.applyTransitionToAllSlides(SlideTransition::fade);
    store.startPreview();
    ASSERT_TRUE(store.isPlaying());

    store.undoLastStep();
    EXPECT_FALSE(store.isPlaying());
    EXPECT_EQ(store.project().slides[0].transition, SlideTransition::dissolve);
    EXPECT_EQ(store.previewTime(), 1);
    store.undoLastStep();
    // The snapshot's playhead lay past its 8 s slideshow.
    EXPECT_EQ(store.previewTime(), 8);
}

} // namespace
