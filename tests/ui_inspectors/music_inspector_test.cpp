#include "inspector_test_support.h"

#include "support/test_audio.h"
#include "ui/common/transitions.h"
#include "ui/inspectors/elided_label.h"
#include "ui/inspectors/ken_burns_controls.h"
#include "ui/inspectors/music_control_inspector.h"
#include "ui/inspectors/music_inspector.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace fotivela;
using namespace fotivela::test;

using MusicInspectorTest = InspectorTest;

namespace {

AudioTrack track(SyncMode mode)
{
    AudioTrack audio;
    audio.url = "/musica/cancion.mp3";
    audio.name = "cancion con un nombre muy largo.mp3";
    audio.syncMode = mode;
    return audio;
}

} // namespace

TEST(CurrentSongAIInfoRules, OnlyGeneratedNonBlankTextsAreShown)
{
    AIMusicSettings settings;
    settings.lyrics = "  \n la la la \n";
    settings.stylePrompt = "   ";
    EXPECT_EQ(CurrentSongAIInfo::generatedText(settings, &AIMusicSettings::lyrics), std::nullopt);
    settings.lastGeneratedAt = std::chrono::system_clock::now();
    EXPECT_EQ(CurrentSongAIInfo::generatedText(settings, &AIMusicSettings::lyrics), "la la la");
    EXPECT_EQ(CurrentSongAIInfo::generatedText(settings, &AIMusicSettings::stylePrompt), std::nullopt);
    EXPECT_EQ(CurrentSongAIInfo::generatedText(std::nullopt, &AIMusicSettings::lyrics), std::nullopt);
}

TEST_F(MusicInspectorTest, SongCardFollowsTheSongItsDurationAndTheGeneratedLyrics)
{
    MusicInspector inspector(store(), storeSignals());
    inspector.show();
    EXPECT_TRUE(inspector.noSongMessage()->isVisible());
    EXPECT_EQ(inspector.noSongMessage()->text(), "Sin musica importada.");
    EXPECT_FALSE(inspector.songCard()->isVisible());
    EXPECT_TRUE(inspector.importButton()->isEnabled());

    store().modifyProject([](FotivelaProject& p) {
        p.audio = track(SyncMode::manual);
        AIMusicSettings ai;
        ai.lyrics = "la la la";
        ai.stylePrompt = " ";
        ai.lastGeneratedAt = std::chrono::system_clock::now();
        p.aiMusic = ai;
    });
    EXPECT_FALSE(inspector.noSongMessage()->isVisible());
    ASSERT_TRUE(inspector.songCard()->isVisible());
    EXPECT_EQ(inspector.songName()->fullText(), "cancion con un nombre muy largo.mp3");
    // A duration not known yet has no row.
    EXPECT_FALSE(inspector.durationRow()->isVisible());
    EXPECT_TRUE(inspector.aiInfo()->lyricsRow()->isVisible());
    EXPECT_FALSE(inspector.aiInfo()->styleRow()->isVisible());

    store().setAudioDuration(125.4);
    EXPECT_TRUE(inspector.durationRow()->isVisible());
    EXPECT_EQ(inspector.durationValue()->text(), "2:05");
}

TEST_F(MusicInspectorTest, ACancelledSongPanelChangesNothingAndTheAIPaneOpensInline)
{
    MusicInspector inspector(store(), storeSignals());
    inspector.show();
    bool asked = false;
    inspector.chooseSong = [&asked] {
        asked = true;
        return std::optional<std::filesystem::path>();
    };
    QTest::mouseClick(inspector.importButton(), Qt::LeftButton);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(store().project().audio.has_value());

    EXPECT_TRUE(inspector.aiButton()->isEnabled());
}

namespace {

AIMusicSettings generatedSettings()
{
    AIMusicSettings ai;
    ai.lyrics = "la la la";
    ai.stylePrompt = "pop";
    ai.lastGeneratedAt = std::chrono::system_clock::now();
    return ai;
}

} // namespace

TEST_F(MusicInspectorTest, AnUntouchedOrBlankDraftGivesTheEarlierSettingsBackAndATypedOneStays)
{
    const AIMusicSettings earlier = generatedSettings();
    store().modifyProject([&earlier](FotivelaProject& p) {
        p.audio = track(SyncMode::manual);
        p.aiMusic = earlier;
    });
    MusicInspector inspector(store(), storeSignals());
    QPointer<QLabel> pane;
    inspector.aiMusicPaneFactory = [&pane](QWidget* parent) { return pane = new QLabel("pane", parent); };
    inspector.show();
    ASSERT_TRUE(inspector.aiInfo()->isVisible());

    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    ASSERT_TRUE(inspector.isShowingAIMusic());
    EXPECT_TRUE(inspector.aiPaneHolder()->isVisible());
    EXPECT_TRUE(pane);
    EXPECT_FALSE(inspector.aiInfo()->isVisible());
    EXPECT_NE(store().project().aiMusic, std::optional<AIMusicSettings>(earlier));
    EXPECT_EQ(inspector.previousAIMusicSettings(), std::optional<AIMusicSettings>(earlier));
    store().setAILyricsText("  \n ");
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    EXPECT_FALSE(inspector.isShowingAIMusic());
    EXPECT_FALSE(inspector.aiPaneHolder()->isVisible());
    EXPECT_TRUE(inspector.aiInfo()->isVisible());
    EXPECT_EQ(store().project().aiMusic, std::optional<AIMusicSettings>(earlier));

    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    store().setAILyricsText("nueva letra");
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    EXPECT_EQ(store().project().aiMusic->lyrics, "nueva letra");
    EXPECT_FALSE(inspector.previousAIMusicSettings().has_value());
}

TEST_F(MusicInspectorTest, LeavingTheTabWithTheDraftOpenDoesNotLoseTheSongsLyrics)
{
    store().modifyProject([](FotivelaProject& p) {
        p.audio = track(SyncMode::manual);
        p.aiMusic = generatedSettings();
    });
    {
        MusicInspector inspector(store(), storeSignals());
        inspector.show();
        QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
        ASSERT_EQ(store().project().aiMusic->lyrics, "");
    }
    ASSERT_TRUE(store().project().aiMusic.has_value());
    EXPECT_EQ(store().project().aiMusic->lyrics, "la la la");
}

TEST_F(MusicInspectorTest, AnotherProjectOpenedUnderThePaneNeverReceivesTheKeptSettings)
{
    store().modifyProject([](FotivelaProject& p) { p.aiMusic = generatedSettings(); });
    MusicInspector inspector(store(), storeSignals());
    inspector.show();
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    FotivelaProject other = FotivelaProject::empty();
    other.aiMusic.reset();
    store().setProject(other);
    EXPECT_FALSE(inspector.isShowingAIMusic());
    EXPECT_FALSE(store().project().aiMusic.has_value());
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    EXPECT_NE(store().project().aiMusic->lyrics, "la la la");
}

TEST_F(MusicInspectorTest, ImportingASongWhileThePaneIsOpenClosesItWithoutRestoring)
{
    const auto song = test::writeAudioFile(m_root, "cancion", makeSine(440, 1.0), TestAudioFormat::wav16);
    store().modifyProject([](FotivelaProject& p) { p.aiMusic = generatedSettings(); });
    MusicInspector inspector(store(), storeSignals());
    inspector.show();
    QTest::mouseClick(inspector.aiButton(), Qt::LeftButton);
    store().setAILyricsText(" ");
    inspector.chooseSong = [song] { return std::optional<std::filesystem::path>(song); };
    QTest::mouseClick(inspector.importButton(), Qt::LeftButton);
    ASSERT_TRUE(store().project().audio.has_value());
    EXPECT_FALSE(inspector.isShowingAIMusic());
    EXPECT_FALSE(inspector.previousAIMusicSettings().has_value());
    EXPECT_NE(store().project().aiMusic->lyrics, "la la la");
}

TEST_F(MusicInspectorTest, AFileThatIsNoSongIsTurnedAwayWithAMessageAndNoSongCard)
{
    const std::filesystem::path text = m_root / "cancion.mp3";
    writeTextFile(text, "solo texto");
    std::vector<std::string> errors;
    store().dialogs().showError = [&](const std::string& message) { errors.push_back(message); };
    MusicInspector inspector(store(), storeSignals());
    inspector.show();
    inspector.chooseSong = [text] { return std::optional<std::filesystem::path>(text); };
    QTest::mouseClick(inspector.importButton(), Qt::LeftButton);

    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(store().project().audio.has_value());
    EXPECT_TRUE(inspector.noSongMessage()->isVisible());
    EXPECT_FALSE(inspector.songCard()->isVisible());
}

TEST_F(MusicInspectorTest, MarkersPaneSwitchesModesAndWritesTheSyncSettings)
{
    MusicControlInspector empty(store(), storeSignals());
    empty.show();
    EXPECT_TRUE(empty.noSongMessage()->isVisible());
    EXPECT_FALSE(empty.content()->isVisible());

    setSlides({slide("uno.jpg"), slide("dos.jpg")});
    store().modifyProject([](FotivelaProject& p) { p.audio = track(SyncMode::manual); });
    MusicControlInspector pane(store(), storeSignals());
    pane.show();
    ASSERT_TRUE(pane.content()->isVisible());
    EXPECT_TRUE(pane.manualBlock()->isVisible());
    EXPECT_FALSE(pane.automaticBlock()->isVisible());
    EXPECT_FALSE(pane.deleteManualButton()->isEnabled());
    EXPECT_EQ(pane.durationControls()->valueLabel()->text(), "2.0 s");

    const auto undoBefore = store().undoStack().size();
    pane.syncModePicker()->setFocus();
    QTest::keyClick(pane.syncModePicker(), Qt::Key_Down);
    EXPECT_EQ(store().project().audio->syncMode, SyncMode::autoBeatV2);
    EXPECT_GT(store().undoStack().size(), undoBefore);
    EXPECT_TRUE(pane.automaticBlock()->isVisible());
    EXPECT_FALSE(pane.manualBlock()->isVisible());

    // A sensitivity drag previews live and records one final value on release.
    drag(pane.sensitivitySlider(), 10);
    EXPECT_DOUBLE_EQ(store().project().audio->beatSensitivity, 0.5);

    pane.fadeSlider()->setValue(40);
    EXPECT_DOUBLE_EQ(store().project().audio->cutFadeOutDuration, 4.0);

    pane.spacingSlider()->setValue(50);
    EXPECT_DOUBLE_EQ(store().project().audio->autoBeatMinimumMarkerSpacing, 0.5);
}

TEST_F(MusicInspectorTest, DeletingManualMarkersAsksThroughTheConfirmationCount)
{
    setSlides({slide("uno.jpg")});
    store().modifyProject([](FotivelaProject& p) { p.audio = track(SyncMode::manual); });
    MusicControlInspector pane(store(), storeSignals());
    pane.show();
    store().addManualBeatMarker(1.0);
    store().addManualBeatMarker(2.0);
    ASSERT_EQ(store().manualBeatMarkerCount(), 2);
    ASSERT_TRUE(pane.deleteManualButton()->isEnabled());
    QTest::mouseClick(pane.deleteManualButton(), Qt::LeftButton);
    EXPECT_EQ(store().manualBeatMarkerDeletionCount(), std::optional<std::int64_t>(2));
}

TEST(MusicInfoRowLook, TheValueIsCutAtThreeLinesOfItsWidth)
{
    MusicInfoRow row;
    row.resize(300, 200);
    row.show();
    LineLimitedLabel* value = row.valueLabel();
    const auto shownLines = [&] { return value->text().split(QLatin1Char('\n')).size(); };

    // One long paragraph wraps: three lines of it, the last one ending in an ellipsis.
    row.setContent("Letra", QString("Caminamos por la orilla del mar mientras el sol se escondia detras de las "
                                    "montanas y las gaviotas volaban sobre las barcas de colores del puerto viejo")
                                .repeated(2));
    QApplication::processEvents();
    EXPECT_EQ(shownLines(), 3);
    EXPECT_TRUE(value->text().endsWith(QChar(0x2026)));
    for (const QString& line : value->text().split(QLatin1Char('\n')))
        EXPECT_LE(value->fontMetrics().horizontalAdvance(line), value->contentsRect().width());
    EXPECT_GE(value->height(), value->heightForWidth(value->width()));

    // Short paragraphs count as lines too.
    row.setContent("Letra", "uno\ndos\ntres\ncuatro\ncinco");
    QApplication::processEvents();
    EXPECT_EQ(shownLines(), 3);
    EXPECT_TRUE(value->text().startsWith("uno\ndos\ntres"));
    EXPECT_TRUE(value->text().endsWith(QChar(0x2026)));
    row.setContent("Letra", "uno\ndos");
    QApplication::processEvents();
    EXPECT_EQ(value->text(), "uno\ndos");
}

TEST_F(MusicInspectorTest, TheAIPaneFadesAndMovesInAndOut)
{
    store().modifyProject([](FotivelaProject& p) { p.audio = track(SyncMode::manual); });
    QWidget column;
    column.resize(330, 700);
    auto* inspector = new MusicInspector(store(), storeSignals(), &column);
    inspector->resize(330, 700);
    inspector->aiMusicPaneFactory = [](QWidget* parent) { return new QLabel("pane", parent); };
    column.show();

    QTest::mouseClick(inspector->aiButton(), Qt::LeftButton);
    QWidget* holder = inspector->aiPaneHolder();
    EXPECT_LT(Transitions::entranceProgress(holder), 1.0) << "it comes in, not at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transitions::entranceProgress(holder) == 1.0; }, 2000));
    EXPECT_EQ(holder->graphicsEffect(), nullptr) << "done, it draws directly again";

    // Closing leaves a fading picture of the pane where it stood, which then goes.
    const QRect stood = holder->geometry();
    QTest::mouseClick(inspector->aiButton(), Qt::LeftButton);
    EXPECT_FALSE(holder->isVisible());
    const auto ghosts = [&] {
        int count = 0;
        for (QLabel* label : inspector->findChildren<QLabel*>())
            count += label->isVisible() && label->geometry() == stood && !label->pixmap().isNull() ? 1 : 0;
        return count;
    };
    EXPECT_EQ(ghosts(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ghosts() == 0; }, 2000));
}
