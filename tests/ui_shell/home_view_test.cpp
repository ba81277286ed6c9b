#include "shell_test_support.h"

#include "model/preview_image_cache.h"
#include "model/project_file_reader.h"
#include "model/project_json.h"
#include "support/fifo.h"
#include "support/test_images.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/home_view.h"
#include "ui/shell/recent_project_preview.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

using namespace fotivela;
using namespace fotivela::test;

namespace {

// A project file with one slide on `photo`, as the program writes it.
std::filesystem::path writeProject(const std::filesystem::path& folder, const std::filesystem::path& photo,
                                   const std::string& background, std::optional<bool> fill, Slide* firstSlide = nullptr)
{
    FotivelaProject project = FotivelaProject::empty();
    project.name = "Prueba";
    project.format = ProjectFormat::square;
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = photo;
    slide.duration = 2;
    slide.title = "Hola";
    project.slides.push_back(slide);
    project.backgroundColorHex = background;
    project.fillPhotosToScreen = fill;
    if (firstSlide)
        *firstSlide = slide;
    const auto file = folder / "Prueba.fotivela";
    writeText(file, encodeProject(project));
    return file;
}

} // namespace

class RecentPreviewTest : public test::ShellTest {};

TEST_F(RecentPreviewTest, ReadsFormatColourFillAndTheFirstPictureDownsampled)
{
    const auto photo = m_root / "fotos" / "big.jpg";
    std::filesystem::create_directories(photo.parent_path());
    writeImage(photo, makeTwoToneImage(1600, 900));
    Slide slide;
    const auto file = writeProject(m_root / "p1", photo, "#a1b2c3", std::nullopt, &slide);

    RecentProjectPreview preview = RecentProjectPreview::load(file);
    EXPECT_EQ(preview.format, ProjectFormat::square);
    EXPECT_EQ(preview.backgroundColorHex, "#A1B2C3");
    EXPECT_FALSE(preview.fillPhotosToScreen) << "absent counts as false";
    ASSERT_TRUE(preview.slide.has_value());
    EXPECT_EQ(preview.slide->id, slide.id);
    ASSERT_FALSE(preview.image.isNull()) << "no cached preview: the photo itself";
    EXPECT_EQ(std::max(preview.image.width(), preview.image.height()), 360);

    // The cached preview is preferred over the photo.
    const auto cached = PreviewImageCache::previewURL(slide.id, file);
    std::filesystem::create_directories(cached.parent_path());
    writeImage(cached, makeTwoToneImage(200, 100, Qt::green, Qt::green));
    preview = RecentProjectPreview::load(file);
    ASSERT_FALSE(preview.image.isNull());
    EXPECT_EQ(preview.image.width(), 200);
    EXPECT_GT(dominantColor(preview.image, 100, 50).green(), 200);
}

TEST_F(RecentPreviewTest, BrokenOrForeignFilesGiveTheFallback)
{
    const auto fallback = [](const RecentProjectPreview& p) {
        return p.image.isNull() && !p.slide && p.format == ProjectFormat::youtube && p.backgroundColorHex == "#000000"
            && !p.fillPhotosToScreen;
    };
    EXPECT_TRUE(fallback(RecentProjectPreview::load(m_root / "missing.fotivela")));
    writeText(m_root / "a.fotivela", "not json at all");
    EXPECT_TRUE(fallback(RecentProjectPreview::load(m_root / "a.fotivela")));
    writeText(m_root / "b.fotivela", R"({"slides": []})");
    EXPECT_TRUE(fallback(RecentProjectPreview::load(m_root / "b.fotivela")));
    writeText(m_root / "c.fotivela", R"({"format": "no such format", "slides": []})");
    EXPECT_TRUE(fallback(RecentProjectPreview::load(m_root / "c.fotivela")));

    // No slides: the file's format and colour, nothing else.
    writeText(m_root / "d.fotivela", R"({"format": "Instagram/Reels 9:16", "slides": [], "backgroundColorHex": "#00ff00", "fillPhotosToScreen": true})");
    const auto empty = RecentProjectPreview::load(m_root / "d.fotivela");
    EXPECT_EQ(empty.format, ProjectFormat::reels);
    EXPECT_EQ(empty.backgroundColorHex, "#00FF00");
    EXPECT_TRUE(empty.fillPhotosToScreen);
    EXPECT_FALSE(empty.slide.has_value());

    EXPECT_EQ(RecentProjectPreview::normalizedBackgroundHex(std::string("#12345")), "#000000");
    EXPECT_EQ(RecentProjectPreview::normalizedBackgroundHex(std::string("1234567")), "#000000");
    EXPECT_EQ(RecentProjectPreview::normalizedBackgroundHex(std::string("#12345G")), "#000000");
    EXPECT_EQ(RecentProjectPreview::normalizedBackgroundHex(std::nullopt), "#000000");
}

TEST(RecentProjectTitleOverlay, SizeAndPlaceFollowTheAreaWithinLimits)
{
    EXPECT_DOUBLE_EQ(RecentProjectTitleOverlay::fontSize(QSizeF(300, 50)), 12);
    EXPECT_DOUBLE_EQ(RecentProjectTitleOverlay::fontSize(QSizeF(150, 300)), 21);
    EXPECT_DOUBLE_EQ(RecentProjectTitleOverlay::fontSize(QSizeF(400, 400)), 28);
    EXPECT_DOUBLE_EQ(RecentProjectTitleOverlay::fontSize(QSizeF(0, 0)), 12);
    Slide slide;
    slide.titlePositionX = 0;
    slide.titlePositionY = 1;
    const QPointF c = RecentProjectTitleOverlay::centre(slide, QSizeF(200, 100));
    EXPECT_DOUBLE_EQ(c.x(), 16);
    EXPECT_DOUBLE_EQ(c.y(), 88);
}

TEST_F(RecentPreviewTest, HomeShowsTheEmptyStateOrOneCardPerRecentAndTheButtonsActOnTheStore)
{
    store().setRecentProjects({}); // the preferences outlive one test in this process
    HomeView home(store(), storeSignals());
    home.resize(1180, 700);
    home.show();
    QApplication::processEvents();
    EXPECT_TRUE(home.emptyState()->isVisible());
    EXPECT_TRUE(home.cards().empty());

    QSignalSpy spy(&storeSignals(), &StoreSignals::changed);
    QTest::mouseClick(home.newProjectButton(), Qt::LeftButton);
    QTest::mouseClick(home.newProjectButton(), Qt::LeftButton);
    EXPECT_TRUE(store().isNewProjectDialogPresented());
    EXPECT_EQ(spy.count(), 1) << "the second press changes nothing";

    const auto photo = m_root / "fotos" / "a.jpg";
    std::filesystem::create_directories(photo.parent_path());
    writeImage(photo, makeTwoToneImage(400, 300));
    const auto file = writeProject(m_root / "p2", photo, "#000000", true);
    std::vector<RecentProject> recents;
    for (int i = 0; i < 3; ++i)
        recents.push_back({"Proyecto " + std::to_string(i), i == 0 ? file : m_root / ("x" + std::to_string(i)) / "x.fotivela",
                           std::chrono::system_clock::now()});
    store().setRecentProjects(recents);
    QApplication::processEvents();
    EXPECT_FALSE(home.emptyState()->isVisible());
    ASSERT_EQ(home.cards().size(), 3u);
    EXPECT_EQ(home.currentColumnCount(), HomeView::columnCount(1180 - 48));

    RecentProjectCard* first = home.cards()[0];
    QSignalSpy loaded(first, &RecentProjectCard::previewLoaded);
    if (!first->previewView()->preview()) {
        ASSERT_TRUE(loaded.wait(5000));
    }
    ASSERT_TRUE(first->previewView()->preview().has_value());
    EXPECT_TRUE(first->previewView()->preview()->fillPhotosToScreen);
    // Square format letterboxed in the 124-point strip.
    const QRectF area = first->previewView()->drawingArea();
    EXPECT_DOUBLE_EQ(area.width(), area.height());

    // A click anywhere on the card opens its project.
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2, first->height() - 12));
    QApplication::processEvents();
    EXPECT_EQ(store().project().name, "Prueba");
    EXPECT_EQ(store().currentProjectURL(), std::optional<std::filesystem::path>(file));

    QTest::mouseClick(home.cards()[1]->removeButton(), Qt::LeftButton);
    ASSERT_TRUE(store().recentProjectPendingDeletion().has_value());
    EXPECT_EQ(store().recentProjectPendingDeletion()->name, "Proyecto 1");
}

// Received projects that would pin a worker for ever: their cards show the placeholder and
// the home screen stays usable.
TEST_F(RecentPreviewTest, CardsOfProjectsWithAFifoOrAHugeFileShowThePlaceholder)
{
    const auto fifoPhoto = makeFifo(m_root / "fotos" / "tuberia.jpg");
    const auto onFifoPhoto = writeProject(m_root / "p3", fifoPhoto, "#112233", false);
    const auto fifoProject = makeFifo(m_root / "p4" / "Prueba.fotivela");
    const auto hugeProject = m_root / "p5" / "Prueba.fotivela";
    std::filesystem::create_directories(hugeProject.parent_path());
    const int fd = ::open(hugeProject.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(maximumProjectFileBytes + 1)), 0);
    ::close(fd);

    HomeView home(store(), storeSignals());
    home.resize(1180, 700);
    home.show();
    const auto now = std::chrono::system_clock::now();
    store().setRecentProjects({{"Tuberia", onFifoPhoto, now}, {"Proyecto tuberia", fifoProject, now}, {"Enorme", hugeProject, now}});
    QApplication::processEvents();
    ASSERT_EQ(home.cards().size(), 3u);

    const auto allLoaded = [&] {
        return std::all_of(home.cards().begin(), home.cards().end(),
                           [](RecentProjectCard* card) { return card->previewView()->preview().has_value(); });
    };
    const bool inTime = QTest::qWaitFor(allLoaded, 30000);
    // A card stuck on a FIFO must not hold the test for ever: its readers are let go.
    for (int i = 0; i < 600 && !allLoaded(); ++i) {
        releaseReaders(fifoPhoto);
        releaseReaders(fifoProject);
        QTest::qWait(50);
    }
    ASSERT_TRUE(inTime) << "a card waits on a FIFO";

    const auto& first = home.cards()[0]->previewView()->preview();
    ASSERT_TRUE(first->slide.has_value());
    EXPECT_EQ(first->backgroundColorHex, "#112233");
    EXPECT_TRUE(first->image.isNull());
    for (std::size_t i = 1; i < 3; ++i) {
        const auto& fallback = home.cards()[i]->previewView()->preview();
        EXPECT_FALSE(fallback->slide.has_value()) << i;
        EXPECT_EQ(fallback->backgroundColorHex, "#000000") << i;
    }
    // The cards are drawn and still open their projects.
    QTest::mouseClick(home.cards()[0], Qt::LeftButton, {}, QPoint(home.cards()[0]->width() / 2, home.cards()[0]->height() - 12));
    QApplication::processEvents();
    EXPECT_EQ(store().currentProjectURL(), std::optional<std::filesystem::path>(onFifoPhoto));
}

TEST_F(RecentPreviewTest, ACardKeepsItsPictureBetweenVisitsUntilItsPhotoChanges)
{
    const auto photo = m_root / "fotos" / "c.bmp";
    std::filesystem::create_directories(photo.parent_path());
    writeImage(photo, makeTwoToneImage(64, 48, Qt::red, Qt::red), "BMP");
    const auto written = std::filesystem::last_write_time(photo);
    const auto file = writeProject(m_root / "p6", photo, "#000000", false);
    HomeView home(store(), storeSignals());
    home.resize(1180, 700);
    home.show();
    // Each save puts the project first with a new time: the home screen makes its cards anew.
    auto saved = std::chrono::system_clock::now();
    const auto visit = [&]() -> QColor {
        saved += std::chrono::seconds(1);
        store().setRecentProjects({{"Prueba", file, saved}});
        QApplication::processEvents();
        const auto loaded = [&] { return home.cards().size() == 1 && home.cards()[0]->previewView()->preview().has_value(); };
        if (!QTest::qWaitFor(loaded, 10000) || home.cards()[0]->previewView()->preview()->image.isNull())
            return {};
        return dominantColor(home.cards()[0]->previewView()->preview()->image, 32, 24);
    };
    EXPECT_EQ(visit(), QColor(Qt::red));

    // Other pixels under the same name, time and size: only a decode would show them.
    writeImage(photo, makeTwoToneImage(64, 48, Qt::blue, Qt::blue), "BMP");
    std::filesystem::last_write_time(photo, written);
    EXPECT_EQ(visit(), QColor(Qt::red)) << "the second visit decoded the photo again";

    std::filesystem::last_write_time(photo, written + std::chrono::minutes(1));
    EXPECT_EQ(visit(), QColor(Qt::blue)) << "a changed photo shows";
}

TEST(HomeView, ColumnsOfAtLeast260PointsWith14Between)
{
    EXPECT_EQ(HomeView::columnCount(200), 1);
    EXPECT_EQ(HomeView::columnCount(533), 1);
    EXPECT_EQ(HomeView::columnCount(534), 2);
    EXPECT_EQ(HomeView::columnCount(1132), 4);
}

TEST(EditorLayout, TimelineGrowsPerStemRowAndNeverBelowItsBase)
{
    auto l = EditorLayout::compute(860, 0);
    EXPECT_FALSE(l.compact);
    EXPECT_DOUBLE_EQ(l.timelineHeight, 246);
    EXPECT_DOUBLE_EQ(l.previewMaximumHeight, 568);
    EXPECT_DOUBLE_EQ(l.minimumPreviewHeight, 230);

    l = EditorLayout::compute(860, 9);
    EXPECT_DOUBLE_EQ(l.timelineHeight, 400);
    EXPECT_DOUBLE_EQ(l.previewMaximumHeight, 414);

    l = EditorLayout::compute(800, 3);
    EXPECT_TRUE(l.compact);
    EXPECT_DOUBLE_EQ(l.timelineHeight, 298);
    EXPECT_DOUBLE_EQ(l.previewMaximumHeight, 456);
    EXPECT_DOUBLE_EQ(l.minimumPreviewHeight, 175);

    l = EditorLayout::compute(400, 7);
    EXPECT_DOUBLE_EQ(l.timelineHeight, 232);
    EXPECT_DOUBLE_EQ(l.previewMaximumHeight, 175);

    l = EditorLayout::compute(20, 0);
    EXPECT_DOUBLE_EQ(l.timelineHeight, 232);
}

TEST_F(RecentPreviewTest, TabStripSwitchesTheInspectorAndShowsNoActiveTabForSettings)
{
    int made = 0;
    InspectorPanel panel(store(), storeSignals(), [&made](EditorTab, QWidget* parent) {
        ++made;
        return new QWidget(parent);
    });
    panel.resize(330, 700);
    panel.show();
    QApplication::processEvents();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(panel.tabs()->button(EditorTab::photos)->isActive());

    QTest::mouseClick(panel.tabs()->button(EditorTab::photos), Qt::LeftButton);
    EXPECT_EQ(made, 1) << "the active tab's button changes nothing";
    QTest::mouseClick(panel.tabs()->button(EditorTab::music), Qt::LeftButton);
    EXPECT_EQ(store().activeTab(), EditorTab::music);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(panel.shownTab(), EditorTab::music);

    store().setActiveTab(EditorTab::settings);
    QApplication::processEvents();
    for (EditorTab tab : sidebarTabs)
        EXPECT_FALSE(panel.tabs()->button(tab)->isActive());
    EXPECT_EQ(panel.shownTab(), EditorTab::settings);
}
