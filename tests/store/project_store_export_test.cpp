#include "store_test_support.h"

#include "model/project_json.h"
#include "platform/background_task.h"
#include "platform/duskmere_storage.h"
#include "support/test_images.h"

#include <nlohmann/json.hpp>

#include <regex>
#include <sstream>

namespace fotivela {

struct ProjectStoreExportTestAccess {
    static std::filesystem::path resolvedExportURL(const ProjectStore& store, const std::filesystem::path& url)
    {
        return store.resolvedExportURL(url);
    }
    static FotivelaProject projectPreparedForExport(const ProjectStore& store) { return store.projectPreparedForExport(); }
};

} // namespace fotivela

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class StoreExport : public StoreTest {
protected:
    // A tiny project (few small frames: the suite runs under AddressSanitizer) in its own file.
    void openSmallProject(ProjectStore& store)
    {
        const fs::path photo = m_root / "rojo.png";
        writeImage(photo, makeTwoToneImage(32, 32, Qt::red, Qt::red), "PNG");
        FotivelaProject project = FotivelaProject::empty();
        project.name = "Clip";
        project.fps = 5;
        project.format = ProjectFormat::square;
        project.exportSettings.quality = ExportQuality::quick;
        project.exportSettings.codec = ExportCodec::h264;
        project.exportSettings.bitrateMbps = 1;
        Slide slide = makeSlide(0.6, "rojo.png");
        slide.imageURL = photo;
        project.slides = {slide};
        store.setProject(project);
        store.setCurrentProjectURL(m_root / "Clip" / "Clip.fotivela");
        store.dialogs().showError = [this](const std::string& message) { m_errors.push_back(message); };
        store.dialogs().revealInFileViewer = [this](const fs::path& file) { m_revealed.push_back(file); };
    }
    // Starts an export and runs the event loop until it ends.
    std::optional<bool> exportAndWait(ProjectStore& store, const fs::path& url, int milliseconds = 60000)
    {
        std::optional<bool> result;
        store.exportVideo(url, [&](bool ok) { result = ok; });
        waitFor([&] { return result.has_value(); }, milliseconds);
        return result;
    }

    std::vector<std::string> m_errors;
    std::vector<fs::path> m_revealed;
};

TEST_F(StoreExport, AnExistingFileIsNeverTheDestination)
{
    ProjectStore store;
    const fs::path clip = m_root / "clip.mp4";
    EXPECT_EQ(ProjectStoreExportTestAccess::resolvedExportURL(store, clip), clip);

    writeText(clip, "video anterior");
    const fs::path stamped = ProjectStoreExportTestAccess::resolvedExportURL(store, clip);
    EXPECT_EQ(stamped.parent_path(), m_root);
    EXPECT_TRUE(std::regex_match(stamped.filename().string(), std::regex(R"(clip-\d{8}-\d{6}\.mp4)")))
        << stamped.filename();

    writeText(stamped, "otro");
    const fs::path second = ProjectStoreExportTestAccess::resolvedExportURL(store, clip);
    // The stamp may have moved on by a second meanwhile; then the plain stamped name is free.
    if (second.stem().string().size() == stamped.stem().string().size())
        EXPECT_NE(second, stamped);
    else
        EXPECT_EQ(second, stamped.parent_path() / (stamped.stem().string() + "-2.mp4"));

    writeText(m_root / "corto", "sin extension");
    EXPECT_TRUE(std::regex_match(ProjectStoreExportTestAccess::resolvedExportURL(store, m_root / "corto").filename().string(),
                                 std::regex(R"(corto-\d{8}-\d{6}\.mp4)")));
}

TEST_F(StoreExport, TheExportCopyNamesBlankTitleScreensAndNumbersTheSlides)
{
    ProjectStore store;
    FotivelaProject project = FotivelaProject::empty();
    const auto titleSlide = [](const std::string& name, const std::string& title) {
        Slide slide = makeSlide(2, name);
        slide.name = name;
        slide.isGeneratedTitleSlide = true;
        slide.title = title;
        return slide;
    };
    project.slides = {titleSlide("Pantalla inicial", "  \n"), makeSlide(2), titleSlide("Pantalla final", ""),
                      titleSlide("Otra", ""), titleSlide("Pantalla inicial", "Hola")};
    project.slides[0].order = 7;
    project.slides[1].order = 3;
    store.setProject(project);

    const FotivelaProject prepared = ProjectStoreExportTestAccess::projectPreparedForExport(store);
    EXPECT_EQ(prepared.slides[0].title, "Titulo inicial");
    EXPECT_EQ(prepared.slides[1].title, "");
    EXPECT_EQ(prepared.slides[2].title, "Titulo final");
    EXPECT_EQ(prepared.slides[3].title, "");
    EXPECT_EQ(prepared.slides[4].title, "Hola");
    for (std::size_t i = 0; i < prepared.slides.size(); ++i)
        EXPECT_EQ(prepared.slides[i].order, static_cast<std::int64_t>(i));
    EXPECT_EQ(store.project().slides[0].title, "  \n");
    EXPECT_EQ(store.project().slides[0].order, 7);
}

TEST_F(StoreExport, ARunWritesBesideAnExistingFileAndReportsItsProgress)
{
    ProjectStore store;
    openSmallProject(store);
    const fs::path chosen = m_root / "Clip.mp4";
    writeText(chosen, "video anterior");
    std::vector<double> progress;
    const ProjectStore::ObserverID observer = store.addObserver([&](StoreField field) {
        if (field == StoreField::exportProgress)
            progress.push_back(store.exportProgress());
    });

    std::optional<bool> result;
    store.exportVideo(chosen, [&](bool ok) { result = ok; });
    EXPECT_TRUE(store.isExporting());
    EXPECT_EQ(store.exportMessage(), "Preparando exportacion");
    // A second run while one goes on is refused at once and changes nothing.
    std::optional<bool> second;
    store.exportVideo(m_root / "otro.mp4", [&](bool ok) { second = ok; });
    EXPECT_EQ(second, std::optional<bool>(false));
    EXPECT_FALSE(store.exportDestinationURL());
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 60000));
    store.removeObserver(observer);

    EXPECT_EQ(result, std::optional<bool>(true));
    EXPECT_FALSE(store.isExporting());
    EXPECT_EQ(store.exportProgress(), 1.0);
    EXPECT_EQ(store.exportMessage(), "Exportacion terminada");
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(readText(chosen), "video anterior");
    ASSERT_EQ(m_revealed.size(), 1u);
    EXPECT_NE(m_revealed[0], chosen);
    EXPECT_GT(fs::file_size(m_revealed[0]), 100u);
    EXPECT_FALSE(fs::exists(m_root / "otro.mp4"));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GE(progress.size(), 2u);
    // The project was saved before the run, and the run left its manifest.
    EXPECT_TRUE(fs::exists(m_root / "Clip" / "Clip.fotivela"));
    const nlohmann::json manifest =
        nlohmann::json::parse(readText(DuskmereStorage::temporaryDirectory() / "fotivela-store-export.json"));
    EXPECT_EQ(manifest["stage"], "store-prepared");
    EXPECT_EQ(manifest["outputPath"], m_revealed[0].string());
    EXPECT_EQ(manifest["slideCount"], 1);
}

TEST_F(StoreExport, AFailureIsShownAndAStopIsNot)
{
    ProjectStore store;
    openSmallProject(store);
    writeText(m_root / "rota.jpg", "no es una foto");
    store.modifyProject([&](FotivelaProject& p) { p.slides[0].imageURL = m_root / "rota.jpg"; });
    EXPECT_EQ(exportAndWait(store, m_root / "fallo.mp4"), std::optional<bool>(false));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0], "No se pudo cargar la imagen rota.jpg.");
    EXPECT_EQ(store.exportMessage(), "Error al exportar");
    EXPECT_FALSE(store.isExporting());
    EXPECT_FALSE(fs::exists(m_root / "fallo.mp4"));
    EXPECT_TRUE(m_revealed.empty());

    ProjectStore stopped;
    openSmallProject(stopped);
    m_errors.clear();
    std::optional<bool> result;
    stopped.exportVideo(m_root / "parado.mp4", [&](bool ok) { result = ok; });
    stopped.cancelExport();
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 60000));
    EXPECT_EQ(result, std::optional<bool>(false));
    EXPECT_EQ(stopped.exportMessage(), "Exportacion cancelada");
    EXPECT_FALSE(stopped.isExporting());
    EXPECT_TRUE(m_errors.empty());
    EXPECT_FALSE(fs::exists(m_root / "parado.mp4"));
}

TEST_F(StoreExport, AStoreThatGoesAwayDuringARunHearsNothingMore)
{
    bool told = false;
    {
        ProjectStore store;
        openSmallProject(store);
        store.exportVideo(m_root / "huerfano.mp4", [&](bool) { told = true; });
    }
    // The run stops; its reports and its end find no store.
    backgroundPool().waitForDone(60000);
    QCoreApplication::processEvents();
    EXPECT_FALSE(told);
    EXPECT_FALSE(fs::exists(m_root / "huerfano.mp4"));
}

} // namespace
