#include "music_test_support.h"

#include "model/preview_image_cache.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <QImageReader>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using StorePhotos = StoreTest;

std::vector<std::string> namesOf(const ProjectStore& store)
{
    std::vector<std::string> names;
    for (const Slide& slide : store.project().slides)
        names.push_back(slide.name);
    return names;
}

Slide titled(Slide slide, std::string title)
{
    slide.title = std::move(title);
    slide.titleFontSize = 64;
    slide.titleColorHex = "#FF0000";
    slide.titlePositionY = 0.2;
    return slide;
}

TEST_F(StorePhotos, ImportedPhotosBecomeSlidesAfterTheExistingOnes)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) { p.slides = {makeSlide(2, "a.jpg"), makeSlide(3, "b.jpg")}; });
    store.recalculateTotalDuration();

    store.importPhotos({});
    EXPECT_TRUE(store.undoStack().empty());
    EXPECT_FALSE(store.hasUnsavedChanges());

    // A file that is no picture at all still becomes a slide: the import opens nothing.
    store.importPhotos({m_root / "c.jpg", m_root / "d.png", m_root / "notes.txt"});
    EXPECT_EQ(namesOf(store), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.png", "notes.txt"}));
    const Slide& c = store.project().slides[2];
    EXPECT_EQ(c.imageURL, m_root / "c.jpg");
    EXPECT_EQ(c.order, 2);
    EXPECT_EQ(store.project().slides[4].order, 4);
    EXPECT_EQ(c.duration, 4.0);
    EXPECT_EQ(c.transition, SlideTransition::cut);
    EXPECT_EQ(c.zoom, ZoomMode::slowIn);
    EXPECT_EQ(c.titleFontSize, 42);
    EXPECT_EQ(c.titleFontDesign, TitleFontDesign::default_);
    EXPECT_FALSE(c.kenBurnsEnabled);
    EXPECT_FALSE(c.isGeneratedTitleSlide);
    EXPECT_EQ(store.totalDuration(), 17.0);
    // No slide was selected: the project's first slide is, not one of the new ones.
    EXPECT_EQ(store.selectedSlideID(), store.project().slides[0].id);
    EXPECT_EQ(store.route(), AppRoute::editor);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());
    ASSERT_EQ(store.undoStack().size(), 1u);
    EXPECT_EQ(store.undoStack()[0].project.slides.size(), 2u);
}

TEST_F(StorePhotos, OpeningAndClosingTitlesStayOnTheFirstAndLastPhoto)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) {
        p.slides = {titled(makeSlide(2, "a.jpg"), "Hola"), makeSlide(2, "b.jpg"), titled(makeSlide(2, "c.jpg"), "Fin")};
    });
    store.importPhotos({m_root / "d.jpg", m_root / "e.jpg"});

    const std::vector<Slide>& slides = store.project().slides;
    EXPECT_EQ(slides[0].title, "Hola");
    EXPECT_EQ(slides[2].title, "");
    EXPECT_EQ(slides[4].title, "Fin");
    EXPECT_EQ(slides[4].titleFontSize, 64);
    EXPECT_EQ(slides[4].titleColorHex, "#FF0000");
    EXPECT_EQ(slides[4].titlePositionY, 0.2);
}

TEST_F(StorePhotos, BlankTitlesAndTitlesBesideGeneratedSlidesAreNotCarried)
{
    ProjectStore store;
    Slide opening = titled(makeSlide(3, "title.png"), "Pantalla");
    opening.name = "Pantalla inicial";
    opening.isGeneratedTitleSlide = true;
    store.modifyProject([&](FotivelaProject& p) {
        p.slides = {opening, titled(makeSlide(2, "a.jpg"), "Sobre la foto"), titled(makeSlide(2, "b.jpg"), "  \n ")};
    });
    store.importPhotos({m_root / "c.jpg"});

    const std::vector<Slide>& slides = store.project().slides;
    // The opening title lives on the generated slide and the last photo's title is blank:
    // nothing is anchored, so no title changes.
    EXPECT_EQ(slides[0].title, "Pantalla");
    EXPECT_EQ(slides[1].title, "Sobre la foto");
    EXPECT_EQ(slides[2].title, "  \n ");

    store.modifyProject([](FotivelaProject& p) { p.slides[3].title = "Cierre"; });
    store.importPhotos({m_root / "d.jpg"});
    const std::vector<Slide>& after = store.project().slides;
    EXPECT_EQ(after[0].title, "Pantalla");
    // A closing title is carried, so every photo's title is cleared first; the opening
    // title belongs to the generated slide and the first photo's is not put back.
    EXPECT_EQ(after[1].title, "");
    EXPECT_EQ(after[2].title, "");
    EXPECT_EQ(after[3].title, "");
    EXPECT_EQ(after[4].title, "Cierre");
}

TEST_F(StorePhotos, InAutomaticModeAddedPhotosLieOnTheMarkersAsAfterReopening)
{
    const fs::path song = writeClickSong(m_root, "Tema", 8, {1.0, 2.7, 3.9, 5.4, 6.6});
    const fs::path url = saveAutomaticSongProject(m_root, "Ritmo", song);
    ProjectStore store;
    ASSERT_TRUE(openAnalysed(store, url));
    const std::size_t undoBefore = store.undoStack().size();

    store.importPhotos({m_root / "a.jpg", m_root / "b.jpg", m_root / "c.jpg", m_root / "d.jpg"});
    ASSERT_EQ(store.project().slides.size(), 4u);
    EXPECT_TRUE(everyCutOnAMarker(store));
    EXPECT_LT(store.totalDuration(), 8);
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);

    EXPECT_EQ(durationsAfterReopening(store, url), slideDurations(store));

    store.undoLastStep();
    EXPECT_TRUE(store.project().slides.empty());
    EXPECT_EQ(store.undoStack().size(), undoBefore);
}

TEST_F(StorePhotos, PreviewsAreWrittenBesideTheProjectFileAndTheViewsAreTold)
{
    writeImage(m_root / "fotos/big.jpg", makeTwoToneImage(2400, 1600));
    writeJpegWithOrientation(m_root / "fotos/turned.jpg", makeTwoToneImage(400, 300), 8);
    writeTextFile(m_root / "fotos/broken.jpg", "no picture");

    ProjectStore withoutFile;
    withoutFile.importPhotos({m_root / "fotos/big.jpg"});
    QCoreApplication::processEvents();
    EXPECT_EQ(withoutFile.previewCacheRevision(), 0);

    ProjectStore store;
    const fs::path project = m_root / "Viaje/Viaje.fotivela";
    store.setCurrentProjectURL(project);
    store.importPhotos({m_root / "fotos/big.jpg", m_root / "fotos/turned.jpg", m_root / "fotos/broken.jpg"});
    ASSERT_TRUE(waitFor([&] { return store.previewCacheRevision() == 1; }, 20000));

    const std::vector<Slide>& slides = store.project().slides;
    QImageReader big(QString::fromStdString(PreviewImageCache::previewURL(slides[0].id, project).string()));
    EXPECT_EQ(big.size(), QSize(1800, 1200));
    QImageReader turned(QString::fromStdString(PreviewImageCache::previewURL(slides[1].id, project).string()));
    EXPECT_EQ(turned.size(), QSize(300, 400));
    EXPECT_FALSE(fs::exists(PreviewImageCache::previewURL(slides[2].id, project)));
}

} // namespace
