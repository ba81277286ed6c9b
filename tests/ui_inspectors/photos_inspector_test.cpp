#include "inspector_test_support.h"

#include "platform/hex_color.h"
#include "ui/inspectors/elided_label.h"
#include "ui/inspectors/ken_burns_controls.h"
#include "ui/inspectors/music_inspector.h"
#include "ui/inspectors/photos_inspector.h"
#include "ui/inspectors/title_color_selector.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include "support/scoped_environment.h"

#include <QTest>
#include <QTimer>

#include <optional>

using namespace fotivela;
using namespace fotivela::test;

using PhotosInspectorTest = InspectorTest;

TEST(PhotosInspectorRules, BackgroundHexIsUpperCasedOrBlack)
{
    EXPECT_EQ(normalizedBackgroundHex(std::string("#abcdef")), "#ABCDEF");
    EXPECT_EQ(normalizedBackgroundHex(std::string("#ABCDE")), "#000000");
    EXPECT_EQ(normalizedBackgroundHex(std::string("ABCDEF1")), "#000000");
    EXPECT_EQ(normalizedBackgroundHex(std::string("#GG0000")), "#000000");
    EXPECT_EQ(normalizedBackgroundHex(std::nullopt), "#000000");
}

TEST(PhotosInspectorRules, PercentagesRoundHalvesAwayAndSurviveWildStoredValues)
{
    EXPECT_EQ(percentText(0.125), "13%");
    EXPECT_EQ(percentText(0.02), "2%");
    EXPECT_EQ(percentText(1.0), "100%");
    EXPECT_EQ(percentText(1e300), "9223372036854774784%");
    EXPECT_EQ(percentText(std::nan("")), "0%");
    EXPECT_EQ(durationText(3.27), "3.3 s");
}

TEST_F(PhotosInspectorTest, WithoutSlidesOnlyTheImportControlsAndTheHintShow)
{
    PhotosInspector inspector(store(), storeSignals());
    inspector.show();
    EXPECT_TRUE(inspector.importButton()->isVisible());
    EXPECT_TRUE(inspector.fillToggle()->isVisible());
    EXPECT_FALSE(inspector.fillToggle()->isChecked());
    EXPECT_TRUE(inspector.emptyMessage()->isVisible());
    EXPECT_EQ(inspector.emptyMessage()->text(), "Importa fotos o selecciona miniaturas en el timeline para editar.");
    EXPECT_FALSE(inspector.editingBlock()->isVisible());
    EXPECT_EQ(inspector.colorSwatch()->color(), QColor(0, 0, 0));

    store().setAppLanguageValue(AppLanguage::english);
    EXPECT_EQ(inspector.importButton()->text(), QString::fromStdString(AppText::translate("Cargar fotos", AppLanguage::english)));
}

TEST_F(PhotosInspectorTest, ImportFillColourAndTransitionGoThroughTheStore)
{
    setSlides({slide("uno.jpg"), slide("dos.jpg"), slide("tres.jpg")});
    store().modifyProject([](FotivelaProject& p) {
        p.slides[0].transition = SlideTransition::dissolve;
        p.slides[1].transition = SlideTransition::fade;
        p.backgroundColorHex = "#abcdef";
    });
    PhotosInspector inspector(store(), storeSignals());
    inspector.show();

    // The first slide names the transition, whatever the others use.
    EXPECT_EQ(inspector.transitionPicker()->currentText(), "Fundido");
    EXPECT_EQ(inspector.colorSwatch()->color(), colorFromHex("#ABCDEF"));
    // With no selected id the first slide is the selected one.
    EXPECT_TRUE(inspector.selectedSlideRow()->isVisible());
    EXPECT_EQ(inspector.selectedSlideName()->fullText(), "uno.jpg");

    const auto undoBefore = store().undoStack().size();
    inspector.transitionPicker()->setFocus();
    QTest::keyClick(inspector.transitionPicker(), Qt::Key_Up); // Fundido -> Corte
    for (const Slide& s : store().project().slides)
        EXPECT_EQ(s.transition, SlideTransition::cut);
    EXPECT_EQ(store().undoStack().size(), undoBefore + 1);
    EXPECT_EQ(inspector.transitionPicker()->currentText(), "Corte");

    QTest::mouseClick(inspector.fillToggle(), Qt::LeftButton);
    EXPECT_EQ(store().project().fillPhotosToScreen, std::optional<bool>(true));
    EXPECT_TRUE(inspector.fillToggle()->isChecked());

    inspector.chooseColor = [](const QColor&) { return std::optional<QColor>(QColor(0x12, 0x34, 0x56)); };
    QTest::mouseClick(inspector.colorWell(), Qt::LeftButton);
    EXPECT_EQ(store().project().backgroundColorHex, std::optional<std::string>("#123456"));
    EXPECT_EQ(inspector.colorSwatch()->color(), QColor(0x12, 0x34, 0x56));

    // A cancelled panel imports nothing.
    inspector.choosePhotos = [] { return std::vector<std::filesystem::path>{}; };
    QTest::mouseClick(inspector.importButton(), Qt::LeftButton);
    EXPECT_EQ(store().project().slides.size(), 3u);
}

TEST_F(PhotosInspectorTest, SelectionFromTheTimelineWithoutAnActiveSlideHidesTheNameRow)
{
    auto slides = std::vector<Slide>{slide("uno.jpg"), slide("dos.jpg")};
    setSlides(slides);
    store().setSelectedSlideID(Uuid::random()); // an id no slide has
    store().setTimelineSelection({slides[1].id});
    PhotosInspector inspector(store(), storeSignals());
    inspector.show();
    EXPECT_TRUE(inspector.editingBlock()->isVisible());
    EXPECT_FALSE(inspector.selectedSlideRow()->isVisible());
}

TEST_F(PhotosInspectorTest, AGeneratedTitleScreenIsNamedInTheInterfaceLanguage)
{
    setSlides({slide("uno.jpg")});
    store().setTitleScreenMode(TitleSlidePlacement::initial, true);
    const auto opening = store().initialTitleSlide();
    ASSERT_TRUE(opening.has_value());
    store().setSelectedSlideID(opening->id);
    PhotosInspector inspector(store(), storeSignals());
    inspector.show();
    EXPECT_EQ(inspector.selectedSlideName()->fullText(), "Pantalla inicial");
    store().setAppLanguageValue(AppLanguage::english);
    EXPECT_EQ(inspector.selectedSlideName()->fullText(), "Opening screen");

    // A photo keeps its own name, even one that reads like the system's text.
    store().modifyProject([](FotivelaProject& p) { p.slides.back().name = "Pantalla inicial"; });
    store().setSelectedSlideID(store().project().slides.back().id);
    EXPECT_EQ(inspector.selectedSlideName()->fullText(), "Pantalla inicial");
}

TEST_F(PhotosInspectorTest, KenBurnsFollowsTheFirstSlideAndADragWritesEveryStep)
{
    setSlides({slide("uno.jpg"), slide("dos.jpg")});
    KenBurnsControls controls(store(), storeSignals());
    controls.show();
    EXPECT_FALSE(controls.toggle()->isChecked());
    EXPECT_FALSE(controls.card()->isVisible());

    QTest::mouseClick(controls.toggle(), Qt::LeftButton);
    EXPECT_TRUE(store().project().slides[1].kenBurnsEnabled);
    ASSERT_TRUE(controls.card()->isVisible());
    EXPECT_EQ(controls.zoomValue()->text(), "12%");

    int writes = 0;
    const auto id = store().addObserver([&writes](StoreField field) { writes += field == StoreField::project; });
    drag(controls.zoomSlider(), 20);
    store().removeObserver(id);
    EXPECT_GE(writes, 8); // one write per step at least, not one per drag
    for (const Slide& s : store().project().slides)
        EXPECT_DOUBLE_EQ(s.kenBurnsZoomAmount, 0.20);
    EXPECT_EQ(controls.zoomValue()->text(), "20%");

    drag(controls.movementSlider(), 20);
    EXPECT_DOUBLE_EQ(store().project().slides[0].kenBurnsMovementAmount, 1.0);
    EXPECT_EQ(controls.movementValue()->text(), "100%");
}

TEST_F(PhotosInspectorTest, DurationShowsTheFirstEditableSlideAndAppliesToTheSelection)
{
    SlideDurationControls empty(store(), storeSignals(), true);
    EXPECT_EQ(empty.valueLabel()->text(), "4.0 s");
    EXPECT_EQ(empty.slider()->value(), 8);

    auto slides = std::vector<Slide>{slide("uno.jpg", 3.27), slide("dos.jpg"), slide("tres.jpg"), slide("cuatro.jpg")};
    setSlides(slides);
    store().setTimelineSelection({slides[0].id, slides[1].id, slides[2].id});
    SlideDurationControls controls(store(), storeSignals(), false);
    EXPECT_EQ(controls.valueLabel()->text(), "3.3 s");

    const auto undoBefore = store().undoStack().size();
    controls.slider()->setValue(11); // 5.5 s
    EXPECT_EQ(store().undoStack().size(), undoBefore + 1);
    for (int index = 0; index < 3; ++index)
        EXPECT_DOUBLE_EQ(store().project().slides[index].duration, 5.5);
    EXPECT_DOUBLE_EQ(store().project().slides[3].duration, 2.0);
    EXPECT_EQ(controls.valueLabel()->text(), "5.5 s");
    EXPECT_EQ(empty.valueLabel()->text(), "5.5 s");
}

TEST_F(PhotosInspectorTest, ATogglePressedWithoutSlidesFallsBackToWhatTheStoreHolds)
{
    KenBurnsControls controls(store(), storeSignals());
    controls.show();
    QTest::mouseClick(controls.toggle(), Qt::LeftButton);
    EXPECT_FALSE(controls.toggle()->isChecked());
    EXPECT_FALSE(controls.card()->isVisible());
}

namespace {

using ScopedVariable = fotivela::testing::ScopedEnvironment;

struct OpenedPanel {
    QString folder;
    QStringList filters;
};

// Clicks `button` and reads the file panel it opens, then cancels it.
OpenedPanel panelOpenedBy(QPushButton* button)
{
    OpenedPanel seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* panel = qobject_cast<QFileDialog*>(widget); panel && panel->isVisible()) {
                poll.stop();
                seen = {panel->directory().absolutePath(), panel->nameFilters()};
                panel->reject();
                return;
            }
        }
    });
    poll.start();
    QTest::mouseClick(button, Qt::LeftButton);
    return seen;
}

} // namespace

TEST_F(PhotosInspectorTest, PhotoAndSongPanelsOpenInTheUsersFoldersWithTheirFilterNamedInTheLanguage)
{
    const std::filesystem::path home = m_root / "home";
    for (const char* folder : {"Pictures", "Music"})
        std::filesystem::create_directories(home / folder);
    std::filesystem::create_directories(m_root / "config");
    const ScopedVariable homeVariable("HOME", home.string());
    const ScopedVariable configVariable("XDG_CONFIG_HOME", (m_root / "config").string());

    for (AppLanguage language : {AppLanguage::spanish, AppLanguage::english}) {
        store().setAppLanguage(language);
        PhotosInspector photos(store(), storeSignals());
        photos.resize(282, 600);
        photos.show();
        const OpenedPanel panel = panelOpenedBy(photos.importButton());
        EXPECT_EQ(panel.folder.toStdString(), (home / "Pictures").string());
        ASSERT_FALSE(panel.filters.isEmpty());
        EXPECT_TRUE(panel.filters.front().startsWith(language == AppLanguage::english ? QStringLiteral("Images (")
                                                                                       : QStringLiteral("Imágenes (")))
            << panel.filters.front().toStdString();
        EXPECT_TRUE(store().project().slides.empty());
    }

    MusicInspector music(store(), storeSignals());
    music.resize(282, 600);
    music.show();
    EXPECT_EQ(panelOpenedBy(music.importButton()).folder.toStdString(), (home / "Music").string());
    EXPECT_FALSE(store().project().audio);
}
