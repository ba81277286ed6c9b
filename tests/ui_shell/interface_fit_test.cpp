// Every screen is laid out at its real size in both languages and its widgets' geometry is
// checked: no text wider than its label or button, no widget outside its parent, no
// horizontal scrolling where the column must fit.
#include "shell_test_support.h"

#include "support/layout_checks.h"
#include "ui/inspectors/elided_label.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/export_progress_overlay.h"
#include "ui/shell/home_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

using namespace fotivela;

namespace {

using test::expectFits;

struct Screen {
    AppLanguage language;
    QSize size;
};

std::string name(const Screen& screen)
{
    return std::string(screen.language == AppLanguage::english ? "en " : "es ") + std::to_string(screen.size.width())
        + "x" + std::to_string(screen.size.height());
}

class InterfaceFitTest : public test::ShellTest, public ::testing::WithParamInterface<Screen> {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        store().setAppLanguageValue(GetParam().language);
        store().setRecentProjects({
            {"Viaje de verano por la costa de Galicia con toda la familia", m_root / "a" / "a.fotivela",
             std::chrono::system_clock::now()},
            {"Boda", m_root / "b" / "b.fotivela", std::chrono::system_clock::now() - std::chrono::hours(24 * 40)},
            {"Cumpleaños de la abuela", m_root / "c" / "c.fotivela", std::chrono::system_clock::now()},
        });
        m_view = std::make_unique<ContentView>(store(), storeSignals(), nullptr);
        m_view->resize(GetParam().size);
        m_view->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        m_view.reset();
        QApplication::processEvents();
        ShellTest::TearDown();
    }

    // Slides with titles, a song with markers, the opening title screen on its first photo.
    void openFullProject()
    {
        openSlides(8);
        store().modifyProject([](FotivelaProject& project) {
            project.name = "Viaje de verano";
            project.slides[0].title = "Nuestro viaje de verano";
            AudioTrack audio;
            audio.url = "/musica/cancion.wav";
            audio.name = "cancion.wav";
            audio.syncMode = SyncMode::manual;
            for (int i = 0; i < 60; ++i) {
                BeatMarker marker;
                marker.id = Uuid::random();
                marker.time = 0.5 + i * 0.5;
                marker.strength = 0.8;
                marker.isManual = i % 7 == 0;
                audio.beatMarkers.push_back(marker);
            }
            project.audio = audio;
        });
        store().setAudioDuration(185.4);
        std::vector<double> waveform(600);
        for (std::size_t i = 0; i < waveform.size(); ++i)
            waveform[i] = 0.2 + 0.6 * static_cast<double>(i % 17) / 17.0;
        store().setAudioWaveform(waveform);
        store().setTitleScreenMode(TitleSlidePlacement::initial, false);
        store().selectOnlyTimelineSlide(store().project().slides.at(0).id);
        store().setRoute(AppRoute::editor);
        QApplication::processEvents();
    }

    test::ProgramLooks m_looks;
    std::unique_ptr<ContentView> m_view;
};

} // namespace

TEST_P(InterfaceFitTest, HomeCardsShowTheirNamesAtTheirWidthAndTheDayOnly)
{
    expectFits(m_view.get(), name(GetParam()));
    ASSERT_EQ(m_view->homeView()->cards().size(), 3u);
    const RecentProjectCard* card = m_view->homeView()->cards()[2];
    // A short name is never elided; a long one uses the room it has.
    EXPECT_EQ(card->nameLabel()->text(), QString::fromUtf8("Cumpleaños de la abuela"));
    const QLabel* longName = m_view->homeView()->cards()[0]->nameLabel();
    const int room = longName->contentsRect().width();
    EXPECT_TRUE(longName->text().endsWith(QChar(0x2026)));
    EXPECT_GT(longName->fontMetrics().horizontalAdvance(longName->text()), room - longName->fontMetrics().horizontalAdvance(QStringLiteral("MM")))
        << "elided at the card's width, not at an earlier one";
    const QString date = card->dateLabel()->text();
    for (const char* weekday : {"lunes", "martes", "miércoles", "jueves", "viernes", "sábado", "domingo", "Monday",
                                "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"})
        EXPECT_FALSE(date.contains(QString::fromUtf8(weekday), Qt::CaseInsensitive)) << date.toStdString();
    EXPECT_TRUE(date.contains(QString::number(QDate::currentDate().year())));
}

TEST_P(InterfaceFitTest, EveryInspectorTabAndTheTimelineFitTheWindow)
{
    openFullProject();
    ASSERT_NE(m_view->editorView(), nullptr);
    for (const EditorTab tab : {EditorTab::photos, EditorTab::music, EditorTab::aiMusic, EditorTab::export_,
                                EditorTab::settings}) {
        store().setActiveTab(tab);
        QApplication::processEvents();
        expectFits(m_view.get(), name(GetParam()) + " tab " + std::to_string(static_cast<int>(tab)));
    }
}

TEST_P(InterfaceFitTest, TheExportOverlayFits)
{
    openFullProject();
    store().setIsExporting(true);
    store().setExportProgress(0.42);
    store().setExportMessage("Renderizando fotogramas 240/900");
    QApplication::processEvents();
    ASSERT_TRUE(m_view->exportOverlay() && m_view->exportOverlay()->isVisible());
    expectFits(m_view->exportOverlay(), name(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(BothLanguagesAtTheSmallestAndALargeWindow, InterfaceFitTest,
                         ::testing::Values(Screen{AppLanguage::spanish, QSize(1180, 820)},
                                           Screen{AppLanguage::english, QSize(1180, 820)},
                                           Screen{AppLanguage::spanish, QSize(1920, 1200)},
                                           Screen{AppLanguage::english, QSize(1920, 1200)}),
                         [](const ::testing::TestParamInfo<Screen>& info) {
                             return std::string(info.param.language == AppLanguage::english ? "English" : "Spanish")
                                 + std::to_string(info.param.size.width());
                         });
