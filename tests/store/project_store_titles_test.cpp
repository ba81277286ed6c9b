#include "store_test_support.h"

#include "model/title_slide_factory.h"

#include <QImage>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using StoreTitles = StoreTest;

void open(ProjectStore& store, std::vector<Slide> slides)
{
    store.modifyProject([&](FotivelaProject& p) { p.slides = std::move(slides); });
    store.recalculateTotalDuration();
}

TEST_F(StoreTitles, AGeneratedOpeningSlideTakesThePhotosTitleAndStyle)
{
    ProjectStore store;
    const fs::path project = m_root / "Boda/Boda.fotivela";
    store.setCurrentProjectURL(project);
    Slide first = makeSlide(2, "a.jpg");
    first.title = "Nuestra boda";
    first.titleFontDesign = TitleFontDesign::serif;
    first.titlePositionY = 0.3;
    open(store, {first, makeSlide(2, "b.jpg")});

    store.setTitleScreenMode(TitleSlidePlacement::initial, true);
    ASSERT_EQ(store.project().slides.size(), 3u);
    const Slide& title = store.project().slides[0];
    EXPECT_TRUE(title.isGeneratedTitleSlide);
    EXPECT_EQ(title.name, "Pantalla inicial");
    EXPECT_EQ(title.title, "Nuestra boda");
    EXPECT_EQ(title.titleFontDesign, TitleFontDesign::serif);
    EXPECT_EQ(title.titlePositionY, 0.3);
    EXPECT_EQ(title.duration, 3);
    EXPECT_EQ(title.zoom, ZoomMode::none);
    EXPECT_EQ(title.imageURL, TitleSlideFactory::generatedTitleSlideImageURL(title.id, project));
    EXPECT_EQ(QImage(QString::fromStdString(title.imageURL.string())).size(), QSize(1920, 1080));
    EXPECT_EQ(store.project().slides[1].title, "");
    EXPECT_EQ(store.project().slides[1].order, 1);
    EXPECT_EQ(store.selectedSlideID(), title.id);
    EXPECT_EQ(store.totalDuration(), 7);
    EXPECT_TRUE(store.hasInitialTitleScreen());
    EXPECT_TRUE(store.hasPendingAutosave());

    // Its preview is written like any photo's.
    ASSERT_TRUE(waitFor([&] { return store.previewCacheRevision() == 1; }, 20000));
    EXPECT_TRUE(fs::exists(m_root / "Boda/Previews" / (title.id.toString() + ".jpg")));

    store.setTitleScreenMode(TitleSlidePlacement::initial, true);
    EXPECT_EQ(store.project().slides.size(), 3u);
    EXPECT_EQ(store.undoStack().size(), 1u);
}

TEST_F(StoreTitles, MovingATitleBetweenItsSlideAndThePhoto)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root / "Proyectos");
    const Slide photo = makeSlide(2, "a.jpg");
    open(store, {makeSlide(2, "z.jpg"), photo});

    // Without a project file the picture goes where the project will be created.
    store.setTitleScreenMode(TitleSlidePlacement::final, true);
    const Slide generated = store.project().slides.back();
    EXPECT_EQ(generated.title, "Titulo final");
    EXPECT_EQ(generated.name, "Pantalla final");
    EXPECT_EQ(generated.order, 2);
    EXPECT_TRUE(fs::exists(generated.imageURL));
    EXPECT_EQ(generated.imageURL.parent_path(), m_root / "Proyectos/Nuevo video/Previos/TitleSlides");

    store.updateSlideTitle(generated.id, [](Slide& s) {
        s.title = "Gracias";
        s.titleColorHex = "#00FF00";
        s.duration = 99;
    });
    EXPECT_EQ(store.project().slides.back().title, "Gracias");
    EXPECT_EQ(store.project().slides.back().duration, 3);

    // The photo has no title: one step gives it the default, another moves the slide's title onto it.
    const std::size_t steps = store.undoStack().size();
    store.setTitleScreenMode(TitleSlidePlacement::final, false);
    ASSERT_EQ(store.project().slides.size(), 2u);
    const Slide& last = store.project().slides.back();
    EXPECT_EQ(last.id, photo.id);
    EXPECT_EQ(last.title, "Gracias");
    EXPECT_EQ(last.titleColorHex, "#00FF00");
    EXPECT_EQ(last.titleFontDesign, TitleFontDesign::default_);
    EXPECT_EQ(store.selectedSlideID(), photo.id);
    EXPECT_EQ(store.undoStack().size(), steps + 2);
    EXPECT_TRUE(store.hasFinalTitleScreen());

    store.setSlideTitlePosition(photo.id, 1.2, -0.3);
    EXPECT_EQ(store.project().slides.back().titlePositionX, 0.95);
    EXPECT_EQ(store.project().slides.back().titlePositionY, 0.08);
    store.setSlideTitlePosition(photo.id, std::nan(""), 0.5);
    EXPECT_EQ(store.project().slides.back().titlePositionX, 0.95);
    EXPECT_EQ(store.undoStack().size(), steps + 2);

    store.disableTitleScreen(TitleSlidePlacement::final);
    EXPECT_EQ(store.project().slides.back().title, "");
    EXPECT_FALSE(store.hasFinalTitleScreen());
    EXPECT_EQ(store.undoStack().size(), steps + 3);
}

TEST_F(StoreTitles, SwitchingOffWithoutATitleStillRecordsAStep)
{
    ProjectStore store;
    store.setDefaultProjectDirectory(m_root);
    store.disableTitleScreen(TitleSlidePlacement::initial);
    EXPECT_EQ(store.undoStack().size(), 1u);
    EXPECT_EQ(store.selectedSlideID(), std::nullopt);

    store.setTitleScreenMode(TitleSlidePlacement::final, true);
    ASSERT_EQ(store.project().slides.size(), 1u);
    EXPECT_EQ(store.totalDuration(), 3);
    EXPECT_EQ(store.project().slides[0].title, "Titulo final");

    // With no photo to carry it, a title slide asked onto the photo stays a slide.
    store.setTitleScreenMode(TitleSlidePlacement::final, false);
    EXPECT_EQ(store.project().slides.size(), 1u);
}

} // namespace
