#include "store_test_support.h"

#include "model/preview_image_cache.h"
#include "support/child_process.h"
#include "support/test_images.h"

#include <QImageWriter>
#include <QThread>

#include <algorithm>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

class StorePreviewImages : public StoreTest {
protected:
    std::optional<QImage> request(ProjectStore& store, const Slide& slide, bool* atOnce = nullptr)
    {
        std::optional<std::optional<QImage>> result;
        store.previewImage(slide, [&](std::optional<QImage> image) { result = std::move(image); });
        if (atOnce)
            *atOnce = result.has_value();
        EXPECT_TRUE(waitFor([&] { return result.has_value(); }, 10000));
        return result ? *result : std::nullopt;
    }
};

TEST_F(StorePreviewImages, PhotosComeFromMemoryThenFromTheirPreviewsOnceWritten)
{
    ProjectStore store;
    store.setCurrentProjectURL(m_root / "Viaje" / "Viaje.fotivela");
    const fs::path photo = m_root / "grande.jpg";
    writeImage(photo, makeTwoToneImage(2400, 1200));
    const std::int64_t revision = store.previewCacheRevision();
    store.importPhotos({photo});
    const Slide slide = store.project().slides.at(0);

    // Until its run ends the full photo stands in, never larger than a preview.
    const std::optional<QImage> early = request(store, slide);
    ASSERT_TRUE(early);
    EXPECT_LE(std::max(early->width(), early->height()), PreviewImageCache::maximumPixelSize);

    ASSERT_TRUE(waitFor([&] { return store.previewCacheRevision() == revision + 1; }, 10000));
    const fs::path preview = store.previewCacheDirectory() / (slide.id.toString() + ".jpg");
    ASSERT_TRUE(fs::exists(preview));

    // The memory was emptied: the next request reads the preview, which stands in for the
    // photo even when the photo is gone.
    fs::remove(photo);
    bool atOnce = true;
    const std::optional<QImage> fromPreview = request(store, slide, &atOnce);
    EXPECT_FALSE(atOnce);
    ASSERT_TRUE(fromPreview);
    EXPECT_EQ(fromPreview->size(), QSize(1800, 900));

    // A second request is answered from memory, without the disk.
    fs::remove(preview);
    const std::optional<QImage> again = request(store, slide, &atOnce);
    EXPECT_TRUE(atOnce);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), QSize(1800, 900));
}

TEST_F(StorePreviewImages, ASlideWithNeitherPhotoNorPreviewGivesNoneAndIsAskedAgain)
{
    ProjectStore store;
    Slide slide = makeSlide(2.0, "perdida.jpg");
    slide.imageURL = m_root / "perdida.jpg";
    EXPECT_FALSE(request(store, slide));

    writeImage(slide.imageURL, makeTwoToneImage(40, 30));
    const std::optional<QImage> found = request(store, slide);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->size(), QSize(40, 30));
}

} // namespace

TEST_F(StorePreviewImages, ANewImportLetsTheRunningPreviewRunFinish)
{
    ProjectStore store;
    store.setCurrentProjectURL(m_root / "Viaje" / "Viaje.fotivela");
    std::vector<fs::path> first;
    for (int i = 0; i < 12; ++i) {
        first.push_back(m_root / ("foto" + std::to_string(i) + ".jpg"));
        writeImage(first.back(), makeTwoToneImage(2000, 1500));
    }
    const fs::path late = m_root / "tarde.jpg";
    writeImage(late, makeTwoToneImage(2000, 1500));

    // The second import starts its run while the first is still writing.
    store.importPhotos(first);
    store.importPhotos({late});
    ASSERT_EQ(store.project().slides.size(), 13u);

    const auto written = [&] {
        return std::all_of(store.project().slides.begin(), store.project().slides.end(), [&](const Slide& slide) {
            return fs::exists(store.previewCacheDirectory() / (slide.id.toString() + ".jpg"));
        });
    };
    EXPECT_TRUE(waitFor(written, 30000)) << "every photo gets its preview";
}

TEST_F(StorePreviewImages, ProjectOfLargeProgressiveJpegsShowsEveryPictureWhileItsPreviewsAreWritten)
{
    // Two of these decodes fill the shared allowance, so most picture loads wait for it while
    // the preview writer's threads scale what they decoded. A deadlock would never end, hence
    // the child process.
    const ChildRun run = runInChild([&] {
        const fs::path photo = m_root / "grande.jpg";
        QImageWriter writer(QString::fromStdString(photo.string()), "jpeg");
        writer.setProgressiveScanWrite(true);
        if (!writer.write(makeTwoToneImage(8200, 8200)))
            return 2;
        std::vector<fs::path> photos;
        for (int i = 0; i < std::max(16, 2 * QThread::idealThreadCount()); ++i) {
            photos.push_back(m_root / ("foto" + std::to_string(i) + ".jpg"));
            fs::create_hard_link(photo, photos.back());
        }
        ProjectStore store;
        store.setCurrentProjectURL(m_root / "Grandes" / "Grandes.fotivela");
        store.importPhotos(photos);
        std::size_t shown = 0;
        for (const Slide& slide : store.project().slides)
            store.previewImage(slide, [&](std::optional<QImage> image) { shown += image.has_value(); });
        return waitFor([&] { return shown == photos.size(); }, 60000) ? 0 : 1;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << "some pictures never arrived";
}
