#include "model/preview_image_cache.h"
#include "model/title_slide_factory.h"
#include "platform/photo_decoder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <stop_token>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

Slide photoSlide(const fs::path& photo)
{
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = photo;
    slide.name = photo.filename().string();
    return slide;
}

QSize jpegSize(const fs::path& file)
{
    QImageReader reader(QString::fromStdString(file.string()));
    return reader.format() == "jpeg" ? reader.size() : QSize();
}

bool hasTemporaryLeftovers(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("."))
            return true;
    }
    return false;
}

TEST(PreviewImageCache, WritesUprightDownsampledJpegsOnlyWhereMissing)
{
    AudioTestFolder folder("fotivela-previews");
    const fs::path project = folder / "Boda/Boda.fotivela";
    writeImage(folder / "fotos/big.jpg", makeTwoToneImage(4000, 3000));
    writeImage(folder / "fotos/small.png", makeTwoToneImage(1200, 800), "PNG");
    writeJpegWithOrientation(folder / "fotos/turned.jpg", makeTwoToneImage(400, 300), 6);
    writeTextFile(folder / "fotos/broken.jpg", "no image");
    const std::vector<Slide> slides{photoSlide(folder / "fotos/big.jpg"), photoSlide(folder / "fotos/small.png"),
                                    photoSlide(folder / "fotos/turned.jpg"), photoSlide(folder / "fotos/broken.jpg")};

    PreviewImageCache::generate(slides, project);

    const fs::path previews = folder / "Boda/Previews";
    EXPECT_EQ(PreviewImageCache::previewURL(slides[0].id, project), previews / (slides[0].id.toString() + ".jpg"));
    EXPECT_EQ(jpegSize(PreviewImageCache::previewURL(slides[0].id, project)), QSize(1800, 1350));
    EXPECT_EQ(jpegSize(PreviewImageCache::previewURL(slides[1].id, project)), QSize(1200, 800));
    const QImage turned = PhotoDecoder::decode(PreviewImageCache::previewURL(slides[2].id, project));
    ASSERT_EQ(turned.size(), QSize(300, 400));
    EXPECT_EQ(dominantColor(turned, 290, 200), QColor(Qt::red));
    EXPECT_FALSE(fs::exists(PreviewImageCache::previewURL(slides[3].id, project)));
    EXPECT_FALSE(hasTemporaryLeftovers(previews));

    // An existing preview is kept even when its photo changed; a deleted one is written again.
    writeImage(folder / "fotos/big.jpg", makeTwoToneImage(800, 600));
    const auto firstTime = fs::last_write_time(PreviewImageCache::previewURL(slides[1].id, project));
    fs::remove(PreviewImageCache::previewURL(slides[0].id, project));
    PreviewImageCache::generate(slides, project);
    EXPECT_EQ(jpegSize(PreviewImageCache::previewURL(slides[0].id, project)), QSize(800, 600));
    EXPECT_EQ(fs::last_write_time(PreviewImageCache::previewURL(slides[1].id, project)), firstTime);
}

TEST(PreviewImageCache, AStoppedRunWritesNothingMoreAndNoPartialFile)
{
    AudioTestFolder folder("fotivela-previews");
    const fs::path project = folder / "P/P.fotivela";
    writeImage(folder / "a.jpg", makeTwoToneImage(64, 48));
    const std::vector<Slide> slides{photoSlide(folder / "a.jpg"), photoSlide(folder / "a.jpg")};
    std::stop_source stop;
    stop.request_stop();

    PreviewImageCache::generate(slides, project, stop.get_token());

    EXPECT_TRUE(fs::is_directory(folder / "P/Previews"));
    EXPECT_TRUE(fs::is_empty(folder / "P/Previews"));
    // A preview that cannot be completed leaves nothing behind, not even a temporary file.
    EXPECT_FALSE(PreviewImageCache::writeDownsampledPreview(folder / "a.jpg", folder / "nowhere/deeper/x.jpg"));
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
}

TEST(TitleSlideFactory, BlackPictureBesideTheProjectAndStyleCopy)
{
    AudioTestFolder folder("fotivela-titles");
    const Uuid id = Uuid::random();
    const fs::path url = TitleSlideFactory::generatedTitleSlideImageURL(id, folder / "Boda/Boda.fotivela");
    EXPECT_EQ(url, folder / "Boda/Previos/TitleSlides" / ("title-" + id.toString() + ".png"));
    EXPECT_FALSE(fs::exists(url));

    fs::create_directories(url.parent_path());
    writeTextFile(url, "old");
    TitleSlideFactory::createBlackTitleSlideImage(url);
    const QImage image(QString::fromStdString(url.string()));
    ASSERT_EQ(image.size(), QSize(1920, 1080));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(1919, 1079), QColor(Qt::black));
    EXPECT_FALSE(image.hasAlphaChannel());

    Slide source = photoSlide("/a.jpg");
    source.title = "";
    source.titleFontSize = 60;
    source.titleColorHex = "#FF8800";
    source.titleFontDesign = TitleFontDesign::serif;
    source.titleHasBackground = false;
    source.titlePositionX = 0.2;
    source.titlePositionY = 0.8;
    Slide target = photoSlide("/b.jpg");
    target.duration = 7;
    Slide expected = target;
    TitleSlideFactory::copyTitleStyle(source, target, "Pantalla inicial");
    expected.title = "Pantalla inicial";
    expected.titleFontSize = 60;
    expected.titleColorHex = "#FF8800";
    expected.titleFontDesign = TitleFontDesign::serif;
    expected.titleHasBackground = false;
    expected.titlePositionX = 0.2;
    expected.titlePositionY = 0.8;
    EXPECT_EQ(target, expected);
    source.title = "Hola";
    TitleSlideFactory::copyTitleStyle(source, target, "Pantalla inicial");
    EXPECT_EQ(target.title, "Hola");
}

} // namespace
