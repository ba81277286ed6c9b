#include "support/test_images.h"
#include "support/layout_checks.h"
#include "ui/account/ai_music_inspector.h"
#include "ui/common/transitions.h"
#include "ui/inspectors/music_inspector.h"
#include "ui/shell/editor_view.h"

#include <QTest>
#include "ui/common/store_signals.h"
#include "ui_account_test_support.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using test::makeTwoToneImage;
using test::writeImage;
using testing::click;

class AIMusicPaneTest : public ::testing::Test {
protected:
    AIMusicPaneTest() { store.setAppLanguageValue(AppLanguage::spanish); }

    // A saved project of a few generated photos.
    void openProject(int photos)
    {
        const fs::path root = fixture.service.storage.path();
        FotivelaProject project = FotivelaProject::empty();
        project.name = "Verano";
        for (int i = 0; i < photos; ++i) {
            const fs::path photo = root / ("foto" + std::to_string(i) + ".jpg");
            writeImage(photo, makeTwoToneImage(80, 60));
            Slide slide;
            slide.id = Uuid::random();
            slide.imageURL = photo;
            slide.name = photo.filename().string();
            slide.duration = 2.0;
            project.slides.push_back(slide);
        }
        store.setProject(project);
        store.recalculateTotalDuration();
        store.setCurrentProjectURL(root / "Verano" / "Verano.fotivela");
    }

    testing::SessionFixture fixture;
    ProjectStore store;
    StoreSignals storeSignals{store};
};

TEST_F(AIMusicPaneTest, ShowingThePaneAgainWhileTheServiceHangsSendsNoMoreRequestsAndSignOutStillWorks)
{
    fixture.signIn();
    fixture.service.service.setFault("/api/fotivela/ai/config",
                                      tools::LocalAccountService::Fault{200, "{}", "application/json", {}, 8000, true});
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    pane.resize(360, 900);
    for (int i = 0; i < 12; ++i) {
        pane.show();
        QTest::qWait(5);
        pane.hide();
    }
    fixture.session->logout();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fixture.session->isAuthenticated(); }, 5000));
    EXPECT_EQ(fixture.service.service.requestCount("/api/fotivela/ai/config"), 1);
}

TEST_F(AIMusicPaneTest, WithoutSettingsItReadsTheDefaultsAndTheFirstKeystrokeMakesThem)
{
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    EXPECT_EQ(pane.inputsTitle()->text(), QStringLiteral("Datos para la letra"));
    EXPECT_EQ(pane.instrumentalSwitch()->property("symbol").toString(), QStringLiteral("circle"));
    EXPECT_FALSE(pane.lyricsEditor()->isHidden());
    EXPECT_TRUE(pane.subjectField()->text().isEmpty());
    EXPECT_EQ(pane.styleField()->text(), QStringLiteral("Pop calido, suave"));
    EXPECT_FALSE(pane.notesPlaceholder()->isHidden());
    EXPECT_EQ(pane.cloudTextButton()->text(), QStringLiteral("Generar Letra (20 créditos)"));
    EXPECT_EQ(pane.songButton()->text(), QStringLiteral("Generar canción (180 créditos)"));
    EXPECT_FALSE(pane.cloudTextButton()->isEnabled());
    EXPECT_EQ(pane.cloudTextReason()->text(), QStringLiteral("Añade fotos al timeline antes de generar."));
    EXPECT_EQ(pane.songReason()->text(), QStringLiteral("Genera o escribe una letra antes de crear la canción."));
    EXPECT_TRUE(pane.paneStatus()->isHidden());

    QTest::keyClicks(pane.notesEditor(), QStringLiteral(" "));
    ASSERT_TRUE(store.project().aiMusic);
    EXPECT_EQ(store.project().aiMusic->generationNotes, " ");
    EXPECT_EQ(store.project().aiMusic->requestedMusicStyle, "Pop calido, suave");
    EXPECT_TRUE(pane.notesPlaceholder()->isHidden()) << "a single space hides the placeholder";
    QTest::keyClicks(pane.subjectField(), QStringLiteral("Mar"));
    EXPECT_EQ(store.project().aiMusic->subjectName, "Mar");

    // A status of blanks draws no line; one with leading spaces keeps them.
    store.setAiLyricsStatusMessage(" \n ");
    EXPECT_TRUE(pane.paneStatus()->isHidden());
    store.setAiLyricsStatusMessage("  Sin conexión");
    EXPECT_FALSE(pane.paneStatus()->isHidden());
    EXPECT_EQ(pane.paneStatus()->text(), QStringLiteral("  Sin conexión"));
    EXPECT_TRUE(pane.paneStatus()->isError());
}

TEST_F(AIMusicPaneTest, TheInstrumentalSwitchTurnsTheSongAndBack)
{
    fixture.signIn();
    openProject(2);
    store.setAILyricsText("Una letra");
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    EXPECT_EQ(pane.lyricsEditor()->toPlainText(), QStringLiteral("Una letra"));
    EXPECT_TRUE(pane.songButton()->isEnabled());

    click(pane.instrumentalSwitch());
    EXPECT_FALSE(store.project().aiMusic->withVocals);
    EXPECT_EQ(pane.inputsTitle()->text(), QStringLiteral("Datos para la cancion"));
    EXPECT_EQ(pane.instrumentalSwitch()->property("symbol").toString(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_TRUE(pane.lyricsEditor()->isHidden());
    EXPECT_TRUE(pane.lyricsTitle()->isHidden());
    EXPECT_EQ(pane.cloudTextButton()->text(), QStringLiteral("Generar estilo nube (20 créditos)"));
    EXPECT_EQ(pane.songReason()->text(), QStringLiteral("Genera o escribe un estilo musical antes de crear la canción."));

    click(pane.instrumentalSwitch());
    EXPECT_TRUE(store.project().aiMusic->withVocals);
    EXPECT_FALSE(pane.lyricsEditor()->isHidden());
    EXPECT_TRUE(pane.lyricsEditor()->toPlainText().isEmpty()) << "the lyrics emptied by the first press stay empty";
}

TEST_F(AIMusicPaneTest, TheLyricsEditorFadesAndMovesInAndOut)
{
    openProject(1);
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    pane.resize(330, 900);
    pane.show();
    QApplication::processEvents();
    QWidget* editor = pane.lyricsEditor();
    const QRect stood = editor->geometry();

    // Leaving: the editor is gone at once, a picture of it fades where it stood.
    click(pane.instrumentalSwitch());
    EXPECT_TRUE(editor->isHidden());
    const auto ghosts = [&] {
        int count = 0;
        for (QLabel* label : pane.findChildren<QLabel*>())
            count += label->isVisible() && label->geometry() == stood && !label->pixmap().isNull() ? 1 : 0;
        return count;
    };
    EXPECT_EQ(ghosts(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ghosts() == 0; }, 2000));

    // Coming back: it enters, then draws directly again.
    click(pane.instrumentalSwitch());
    EXPECT_FALSE(editor->isHidden());
    EXPECT_LT(Transitions::entranceProgress(editor), 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transitions::entranceProgress(editor) == 1.0; }, 2000));
    EXPECT_EQ(editor->graphicsEffect(), nullptr);
}

TEST_F(AIMusicPaneTest, CloudLyricsAreWrittenIntoTheEditorsAndCreditsCharged)
{
    fixture.signIn();
    openProject(3);
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    pane.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.service.service.requestCount("/api/fotivela/ai/config") > 0; }, 5000))
        << "the configuration is refreshed when the pane appears";
    QTest::keyClicks(pane.subjectField(), QStringLiteral("Lucia"));
    ASSERT_TRUE(pane.cloudTextButton()->isEnabled()) << pane.cloudTextReason()->text().toStdString();
    const std::int64_t balanceBefore = fixture.session->account().balance;

    click(pane.cloudTextButton());
    EXPECT_TRUE(store.isGeneratingLyrics());
    EXPECT_EQ(pane.cloudTextButton()->text(), QStringLiteral("Generando letra..."));
    EXPECT_TRUE(pane.cloudTextButton()->isEnabled()) << "a running generation keeps its button";
    pane.generateCloudLyrics();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isGeneratingLyrics(); }, 30000));
    EXPECT_EQ(fixture.service.service.requestCount("/api/fotivela/lyrics/generate"), 1) << "a second press runs nothing";

    EXPECT_FALSE(pane.lyricsEditor()->toPlainText().trimmed().isEmpty());
    EXPECT_EQ(pane.lyricsEditor()->toPlainText().toStdString(), store.project().aiMusic->lyrics);
    EXPECT_EQ(pane.styleEditor()->toPlainText().toStdString(), store.aiMusicStylePrompt());
    EXPECT_TRUE(store.aiLyricsStatusMessage().empty());
    EXPECT_LT(fixture.session->account().balance, balanceBefore);
    EXPECT_TRUE(pane.songButton()->isEnabled());
}

TEST_F(AIMusicPaneTest, AFailedSongLeavesItsTextInRedAndTheNextStartEmptiesIt)
{
    fixture.signIn();
    openProject(1);
    store.setAILyricsText("Hola mundo");
    AIMusicInspector pane(store, storeSignals, *fixture.session);
    fixture.service.service.setFault("/api/fotivela/music/generate", {402, R"({"error":"insufficient_credits"})"});
    click(pane.songButton());
    EXPECT_EQ(pane.songButton()->text(), QStringLiteral("Generando canción..."));
    EXPECT_EQ(pane.cloudTextReason()->text(), QStringLiteral("Hay otra operación en curso."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isGeneratingCloudMusic(); }, 30000));
    EXPECT_EQ(pane.paneStatus()->text(), QStringLiteral("No tienes créditos suficientes."));
    EXPECT_TRUE(pane.paneStatus()->isError());
    EXPECT_FALSE(store.project().audio);

    fixture.service.service.clearFaults();
    click(pane.cloudTextButton());
    EXPECT_TRUE(pane.paneStatus()->isHidden()) << "a new generation empties the old failure";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isGeneratingLyrics(); }, 30000));
}

} // namespace
} // namespace fotivela

namespace fotivela {
namespace {

class AIMusicPaneFitTest : public AIMusicPaneTest, public ::testing::WithParamInterface<AppLanguage> {};

TEST_P(AIMusicPaneFitTest, TheOpenPaneFitsTheInspectorColumn)
{
    const test::ProgramLooks looks;
    store.setAppLanguageValue(GetParam());
    openProject(3);
    EditorView editor(store, storeSignals, fixture.session.get());
    editor.resize(1180, 760);
    editor.show();
    store.setActiveTab(EditorTab::music);
    QApplication::processEvents();
    MusicInspector* music = nullptr;
    for (QWidget* widget : editor.findChildren<QWidget*>())
        music = music ? music : dynamic_cast<MusicInspector*>(widget);
    ASSERT_NE(music, nullptr);
    click(music->aiButton());
    ASSERT_TRUE(music->isShowingAIMusic());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transitions::entranceProgress(music->aiPaneHolder()) == 1.0; }, 2000));
    test::expectFits(&editor, GetParam() == AppLanguage::english ? "en" : "es");
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, AIMusicPaneFitTest,
                         ::testing::Values(AppLanguage::spanish, AppLanguage::english));

} // namespace
} // namespace fotivela
