#include "inspector_test_support.h"

#include "ui/inspectors/slide_title_controls.h"
#include "ui/inspectors/title_color_selector.h"
#include "ui/inspectors/title_editor_section.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <cmath>

using namespace fotivela;
using namespace fotivela::test;

using TitleEditorTest = InspectorTest;

TEST(SlideTitleControlsCard, EveryChangeActivatesFirstAndWritesOneField)
{
    Slide slide;
    slide.title = "Hola";
    slide.titleFontSize = 42.7;
    std::vector<std::string> calls;
    SlideTitleControls card("Primera diapositiva", AppLanguage::spanish, slide, [&] { calls.push_back("activate"); },
                            [&](const SlideTitleControls::Mutation& mutation) {
                                mutation(slide);
                                calls.push_back("update");
                            });
    card.show();
    EXPECT_EQ(card.sizeLabel()->text(), "42");
    EXPECT_EQ(card.textField()->text(), "Hola");

    // Tapping the card anywhere only activates, once: its surface, a field, the slider.
    const std::pair<QWidget*, QPoint> targets[] = {{card.heading(), QPoint(4, 4)},
                                                   {card.textField(), QPoint(4, 4)},
                                                   {card.sizeSlider(), sliderHandleCentre(card.sizeSlider())}};
    for (const auto& [target, point] : targets) {
        QTest::mouseClick(target, Qt::LeftButton, {}, point);
        QApplication::processEvents();
        EXPECT_EQ(calls, std::vector<std::string>{"activate"});
        calls.clear();
    }
    EXPECT_EQ(slide.title, "Hola");
    EXPECT_DOUBLE_EQ(slide.titleFontSize, 42.7);

    card.textField()->selectAll();
    QTest::keyClick(card.textField(), Qt::Key_Backspace);
    EXPECT_EQ(slide.title, ""); // cleared, not refused
    EXPECT_EQ(calls, (std::vector<std::string>{"activate", "update"}));

    card.sizeSlider()->setValue(96);
    EXPECT_DOUBLE_EQ(slide.titleFontSize, 96);

    // Choosing the font already selected still goes through both steps.
    calls.clear();
    card.fontMenu()->menu()->actions().at(0)->trigger();
    EXPECT_EQ(slide.titleFontDesign, TitleFontDesign::default_);
    EXPECT_EQ(calls, (std::vector<std::string>{"activate", "update"}));
    card.fontMenu()->menu()->actions().at(11)->trigger();
    EXPECT_EQ(slide.titleFontDesign, TitleFontDesign::markerFelt);

    QTest::mouseClick(card.backgroundToggle(), Qt::LeftButton);
    EXPECT_FALSE(slide.titleHasBackground);

    // The check mark follows the creator's value.
    card.setSlide(slide);
    int checked = 0;
    for (QAction* action : card.fontMenu()->menu()->actions())
        checked += action->isChecked();
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(card.fontMenu()->menu()->actions().at(11)->isChecked());

    // A wild size from a file is shown as stored without breaking the display.
    slide.titleFontSize = 1e300;
    card.setSlide(slide);
    EXPECT_EQ(card.sizeLabel()->text(), "9223372036854774784");
    EXPECT_EQ(card.sizeSlider()->value(), 96);
}

TEST_F(TitleEditorTest, OpeningScreenOnThePhotoEditsThatPhotoAndErasingItsTitleTurnsItOff)
{
    auto slides = std::vector<Slide>{slide("uno.jpg"), slide("dos.jpg")};
    slides[0].title = "Verano";
    setSlides(slides);
    TitleEditorSection section(store(), storeSignals());
    section.show();

    ASSERT_TRUE(section.opening().toggle->isChecked());
    EXPECT_TRUE(section.opening().body->isVisible());
    EXPECT_TRUE(section.opening().picker->existingSegment()->isChecked());
    EXPECT_EQ(section.opening().controls->heading()->text(), "Primera diapositiva");
    EXPECT_FALSE(section.closing().toggle->isChecked());
    EXPECT_FALSE(section.closing().body->isVisible());

    // Typing first selects the titled slide alone, then changes it.
    QLineEdit* field = section.opening().controls->textField();
    field->setCursorPosition(3);
    QTest::keyClicks(field, "X");
    EXPECT_EQ(store().project().slides[0].title, "VerXano");
    EXPECT_EQ(field->cursorPosition(), 4); // the store's echo does not move the cursor
    EXPECT_EQ(store().timelineSelection(), std::set<Uuid>{slides[0].id});

    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_FALSE(store().hasInitialTitleScreen());
    EXPECT_FALSE(section.opening().toggle->isChecked());
    EXPECT_FALSE(section.opening().body->isVisible());
}

TEST_F(TitleEditorTest, ANewScreenStartsAsAGeneratedSlideAndTheSegmentsMoveItsTitle)
{
    setSlides({slide("uno.jpg"), slide("dos.jpg")});
    TitleEditorSection section(store(), storeSignals());
    section.show();

    QTest::mouseClick(section.closing().toggle, Qt::LeftButton);
    ASSERT_TRUE(store().finalTitleSlide().has_value());
    EXPECT_TRUE(section.closing().picker->generatedSegment()->isChecked());
    EXPECT_EQ(section.closing().controls->heading()->text(), "Pantalla nueva final");
    EXPECT_EQ(section.closing().controls->textField()->text(),
              QString::fromStdString(store().finalTitleSlide()->title));

    const auto undoBefore = store().undoStack().size();
    QTest::mouseClick(section.closing().picker->existingSegment(), Qt::LeftButton);
    EXPECT_FALSE(store().finalTitleSlide().has_value());
    EXPECT_GT(store().undoStack().size(), undoBefore);
    EXPECT_EQ(section.closing().controls->heading()->text(), "Ultima diapositiva");
    EXPECT_TRUE(section.closing().picker->existingSegment()->isChecked());
    EXPECT_EQ(store().project().slides.size(), 2u);

    // A click on the segment already chosen asks nothing of the store.
    const auto undoAfter = store().undoStack().size();
    QTest::mouseClick(section.closing().picker->existingSegment(), Qt::LeftButton);
    EXPECT_EQ(store().undoStack().size(), undoAfter);

    QTest::mouseClick(section.closing().toggle, Qt::LeftButton);
    EXPECT_FALSE(store().hasFinalTitleScreen());
    EXPECT_FALSE(section.closing().body->isVisible());
}

// In automatic mode each choice of the opening screen leaves every cut on its marker.
TEST_F(TitleEditorTest, InAutomaticModeTheOpeningScreenKeepsTheCutsOnTheMarkers)
{
    setSlides({slide("uno.jpg"), slide("dos.jpg"), slide("tres.jpg")});
    store().modifyProject([](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2);
        p.audio->autoBeatInstruments = {AutoBeatInstrument::drums};
    });
    store().setAudioDuration(20);
    std::vector<BeatMarker> drums;
    for (double time : {2.46, 5.47, 9.47, 12.5})
        drums.push_back(makeMarker(time, true, false, AutoBeatInstrument::drums));
    ProjectStoreTestAccess::storeBeatMarkers(store(), drums, false);
    store().autoSyncSlidesToBeatTimes();
    TitleEditorSection section(store(), storeSignals());
    section.show();
    const auto cuts = [&] {
        std::vector<double> ends;
        double end = 0;
        for (const Slide& s : store().project().slides)
            ends.push_back(std::round((end += s.duration) * 1e6) / 1e6);
        return ends;
    };

    QTest::mouseClick(section.opening().toggle, Qt::LeftButton);
    ASSERT_TRUE(section.opening().picker->generatedSegment()->isChecked());
    EXPECT_EQ(cuts(), (std::vector<double>{2.46, 5.47, 9.47, 12.5}));
    QTest::mouseClick(section.opening().picker->existingSegment(), Qt::LeftButton);
    ASSERT_FALSE(store().initialTitleSlide().has_value());
    EXPECT_EQ(cuts(), (std::vector<double>{2.46, 5.47, 9.47}));
    QTest::mouseClick(section.opening().picker->generatedSegment(), Qt::LeftButton);
    ASSERT_TRUE(store().initialTitleSlide().has_value());
    EXPECT_EQ(cuts(), (std::vector<double>{2.46, 5.47, 9.47, 12.5}));
}

TEST_F(TitleEditorTest, WithoutPhotosTheGeneratedSlideStaysWhenThePhotoIsChosen)
{
    TitleEditorSection section(store(), storeSignals());
    section.show();
    QTest::mouseClick(section.opening().toggle, Qt::LeftButton);
    ASSERT_TRUE(store().initialTitleSlide().has_value());
    EXPECT_EQ(section.opening().controls->heading()->text(), "Pantalla nueva inicial");

    QTest::mouseClick(section.opening().picker->existingSegment(), Qt::LeftButton);
    EXPECT_TRUE(store().initialTitleSlide().has_value());
    EXPECT_TRUE(section.opening().picker->generatedSegment()->isChecked());

    // A preset colour reaches the generated slide through the store.
    TitleColorSelector* colors = section.opening().controls->colorSelector();
    colors->togglePopover();
    QTest::mouseClick(colors->paletteButton(2), Qt::LeftButton);
    EXPECT_EQ(store().initialTitleSlide()->titleColorHex, "#FFE27A");
    EXPECT_EQ(colors->hexLabel()->text(), "#FFE27A");
}
