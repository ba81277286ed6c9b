// Every screen is laid out at its real size in both languages and its widgets' geometry is
// checked: no text wider than its label or button, no widget outside its parent, no
// horizontal scrolling where the column must fit.
#include "shell_test_support.h"

#include "support/layout_checks.h"
#include "ui/inspectors/elided_label.h"
#include "ui/inspectors/export_inspector.h"
#include "ui/inspectors/slide_title_controls.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/export_progress_overlay.h"
#include "ui/shell/home_view.h"
#include "ui/timeline/timeline_panel.h"
#include "ui/timeline/timeline_ruler.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

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

TEST_P(InterfaceFitTest, TheRulerScaleReadsOnTheDarkTimeline)
{
    openFullProject();
    const auto* timeline = dynamic_cast<TimelinePanel*>(m_view->editorView()->timelineArea());
    ASSERT_NE(timeline, nullptr);
    const TimelineRuler* ruler = timeline->ruler();
    const QImage window = m_view->grab().toImage();
    const double ratio = window.devicePixelRatio();
    const QPoint origin = ruler->mapTo(m_view.get(), QPoint(0, 0));
    const auto lightness = [&](double x, double y) {
        return window.pixelColor(static_cast<int>((origin.x() + x) * ratio), static_cast<int>((origin.y() + y) * ratio)).lightness();
    };
    // At 42 points a second every fifth second is labelled; "0:05" starts 3 points right of its tick.
    const double pointsPerSecond = ruler->width() / 185.4;
    const double tick = 5 * pointsPerSecond;
    int label = 0;
    for (double x = tick + 3; x < tick + 24; x += 0.5)
        for (double y = 1; y < 10; y += 0.5)
            label = std::max(label, lightness(x, y));
    const int strip = lightness(tick + 12, 22);
    EXPECT_LT(strip, 90) << "the strip is dark";
    EXPECT_GT(label - strip, 100) << "the label stands out of the strip";
    // The shortest tick, at its faintest opacity, still shows above the baseline.
    int tickInk = 0;
    for (double dx = -0.5; dx <= 0.5; dx += 0.5)
        tickInk = std::max(tickInk, lightness(tick + dx, ruler->height() - 6));
    EXPECT_GT(tickInk - strip, 15);
}

TEST_P(InterfaceFitTest, TheExportPickersStartAtTheSameX)
{
    openFullProject();
    store().setActiveTab(EditorTab::export_);
    QApplication::processEvents();
    auto* inspector = dynamic_cast<ExportInspector*>(m_view->editorView()->inspectorPanel()->inspector());
    ASSERT_NE(inspector, nullptr);
    const QRect quality(inspector->qualityPicker()->mapTo(inspector, QPoint(0, 0)), inspector->qualityPicker()->size());
    const QRect codec(inspector->codecPicker()->mapTo(inspector, QPoint(0, 0)), inspector->codecPicker()->size());
    EXPECT_EQ(quality.left(), codec.left());
    EXPECT_EQ(quality.right(), codec.right());
}

TEST_P(InterfaceFitTest, InspectorControlsStayClearOfTheScrollBar)
{
    openFullProject();
    store().setTitleScreenMode(TitleSlidePlacement::final, false); // a second title card
    QApplication::processEvents();
    InspectorPanel* column = m_view->editorView()->inspectorPanel();
    QScrollArea* scroll = column->scrollArea();
    const QScrollBar* bar = scroll->verticalScrollBar();
    if (GetParam().size.height() < 1000) {
        ASSERT_TRUE(bar->isVisible()) << "the photos tab with two title cards runs taller than the small window";
    }
    if (!bar->isVisible())
        return;
    const int barLeft = bar->mapTo(scroll, QPoint(0, 0)).x();
    for (const QWidget* control : column->inspector()->findChildren<QWidget*>()) {
        if (!control->isVisibleTo(column->inspector()) || control->width() == 0)
            continue;
        const int right = control->mapTo(scroll, QPoint(control->width(), 0)).x();
        EXPECT_LE(right, barLeft - InspectorPanel::scrollBarGap) << test::layout_checks::describe(control).toStdString();
    }
}

TEST_P(InterfaceFitTest, TheFontMenuNamesSystemAtTheOthersSizeAndDropsDownAtItsFullWidth)
{
    openFullProject();
    TitleFontMenu* fonts = nullptr;
    for (QWidget* widget : m_view->editorView()->inspectorPanel()->inspector()->findChildren<QWidget*>())
        if (!fonts)
            fonts = dynamic_cast<TitleFontMenu*>(widget);
    ASSERT_NE(fonts, nullptr);
    QPushButton* field = fonts->button();
    const auto actionFont = [fonts](const char* name) {
        for (const QAction* action : fonts->menu()->actions())
            if (action->text() == QLatin1String(name))
                return action->font();
        return QFont();
    };
    // The system face runs large and wide: its name is no longer oversized beside the other
    // sans face's.
    const QString name = QStringLiteral("System");
    const double beside = QFontMetricsF(actionFont("Helvetica Neue")).horizontalAdvance(name);
    EXPECT_LE(QFontMetricsF(actionFont("System")).horizontalAdvance(name), beside * 1.12);
    const QLabel* shown = field->findChild<QLabel*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), name);
    EXPECT_LE(QFontMetricsF(shown->font()).horizontalAdvance(name), beside * 1.12);

    int menuWidth = 0;
    QTimer::singleShot(0, [&] {
        menuWidth = fonts->menu()->width();
        fonts->menu()->close();
    });
    m_view->editorView()->inspectorPanel()->scrollArea()->ensureWidgetVisible(field);
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_GE(menuWidth, field->width());
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
