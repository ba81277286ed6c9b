// Every screen is laid out at its real size in both languages and its widgets' geometry is
// checked: no text wider than its label or button, no widget outside its parent, no
// horizontal scrolling where the column must fit.
#include "shell_test_support.h"

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

// Up to a pixel of rounding between a size hint and a laid-out size.
constexpr int slack = 1;

QString describe(const QWidget* widget)
{
    QString text = widget->objectName();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    QString where;
    for (const QWidget* w = widget->parentWidget(); w && !w->isWindow() && where.count(QLatin1Char('<')) < 3;
         w = w->parentWidget())
        where += QStringLiteral(" < ") + QString::fromLatin1(w->metaObject()->className());
    return QString::fromLatin1(widget->metaObject()->className()) + QStringLiteral(" '") + text + QLatin1Char('\'')
        + where;
}

// A scroll area whose content may run wider than it: the timeline.
bool scrollsSideways(const QAbstractScrollArea* area)
{
    return area && area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
}

const QAbstractScrollArea* scrollAreaOfViewport(const QWidget* widget)
{
    return widget && widget->parentWidget() ? qobject_cast<const QAbstractScrollArea*>(widget->parentWidget()) : nullptr;
}

QStringList textFaults(const QWidget* w)
{
    QStringList faults;
    const int width = w->width();
    if (const auto* elided = dynamic_cast<const ElidedLabel*>(w)) {
        const int room = elided->contentsRect().width() - 2 * elided->margin();
        if (elided->fontMetrics().horizontalAdvance(elided->text()) > room + slack)
            faults << QStringLiteral("elided text still clipped: ") + describe(w);
        if (elided->text() != elided->fullText() && elided->fontMetrics().horizontalAdvance(elided->fullText()) <= room)
            faults << QStringLiteral("elided although the whole text fits: ") + describe(w);
        return faults;
    }
    if (dynamic_cast<const LineLimitedLabel*>(w))
        return faults;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().isEmpty() || label->pixmap().isNull() == false)
            return faults;
        if (label->wordWrap()) {
            if (label->heightForWidth(width) > label->height() + slack)
                faults << QStringLiteral("wrapped text taller than its label (%1 > %2): ")
                              .arg(label->heightForWidth(width))
                              .arg(label->height())
                       + describe(w);
        } else if (label->sizeHint().width() > width + slack) {
            faults << QStringLiteral("text wider than its label (%1 > %2): ").arg(label->sizeHint().width()).arg(width)
                   + describe(w);
        }
        return faults;
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (!button->text().isEmpty() && button->sizeHint().width() > width + slack)
            faults << QStringLiteral("button text cut (%1 > %2): ").arg(button->sizeHint().width()).arg(width)
                   + describe(w);
        return faults;
    }
    if (const auto* box = qobject_cast<const QComboBox*>(w)) {
        // The chosen item and the arrow.
        if (box->fontMetrics().horizontalAdvance(box->currentText()) + 28 > width + slack)
            faults << QStringLiteral("picker text cut: ") + describe(w) + QLatin1Char(' ') + box->currentText();
    }
    return faults;
}

// The faults of everything shown inside `root`'s window.
QStringList layoutFaults(QWidget* root)
{
    QApplication::processEvents();
    QStringList faults;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (!w->isVisible() || w->window() != root->window() || w->size().isEmpty())
            continue;
        // Ghosts of a leaving pane and the like do not take part in the layout.
        if (w->testAttribute(Qt::WA_TransparentForMouseEvents) && !qobject_cast<QLabel*>(w))
            continue;
        faults << textFaults(w);

        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(w)) {
            if (!scrollsSideways(area) && area->horizontalScrollBar()->maximum() > 0)
                faults << QStringLiteral("column scrolls sideways by %1 px: ").arg(area->horizontalScrollBar()->maximum())
                       + describe(w);
        }

        const QWidget* parent = w->parentWidget();
        if (!parent || w->isWindow())
            continue;
        const QRect inside = parent->rect().adjusted(-slack, -slack, slack, slack);
        const QRect g = w->geometry();
        if (const QAbstractScrollArea* area = scrollAreaOfViewport(parent)) {
            // Content of a scroll area: taller is scrolling; wider only where it scrolls sideways.
            if (!scrollsSideways(area) && (g.left() < inside.left() || g.right() > inside.right()))
                faults << QStringLiteral("content wider than its column (%1 > %2): ").arg(g.width()).arg(parent->width())
                       + describe(w);
            continue;
        }
        if (qobject_cast<const QAbstractScrollArea*>(parent))
            continue; // scroll bars and viewport are the area's own business
        if (!inside.contains(g))
            faults << QStringLiteral("outside its parent (%1,%2 %3x%4 in %5x%6): ")
                          .arg(g.x())
                          .arg(g.y())
                          .arg(g.width())
                          .arg(g.height())
                          .arg(parent->width())
                          .arg(parent->height())
                   + describe(w);
    }
    faults.removeDuplicates();
    return faults;
}

void expectFits(QWidget* root, const std::string& where)
{
    const QStringList faults = layoutFaults(root);
    EXPECT_TRUE(faults.isEmpty()) << where << ":\n" << faults.join(QLatin1Char('\n')).toStdString();
}

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
