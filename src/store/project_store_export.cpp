#include "store/project_store.h"

#include "model/project_file_layout.h"

#include "export/video_exporter.h"
#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/iso8601_date.h"
#include "platform/json_encoder.h"
#include "platform/log.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <system_error>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

bool somethingAt(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found
        || (error && error != std::errc::no_such_file_or_directory);
}

std::string localTimeStamp()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

} // namespace

std::optional<fs::path> ProjectStore::exportDestinationURL()
{
    assertMainThread();
    if (isExporting() || !m_dialogs.chooseExportDestination)
        return std::nullopt;
    std::optional<fs::path> url = m_dialogs.chooseExportDestination(ProjectFileLayout::shortenedNameComponent(project().name) + ".mp4");
    if (!url || url->empty())
        return std::nullopt;
    return url;
}

fs::path ProjectStore::resolvedExportURL(const fs::path& url) const
{
    if (!somethingAt(url))
        return url;
    const fs::path folder = url.parent_path();
    const std::string base = url.stem().string();
    std::string extension = url.extension().string();
    if (extension.size() <= 1)
        extension = ".mp4";
    const std::string stamped = base + "-" + localTimeStamp();
    fs::path candidate = folder / (stamped + extension);
    for (std::uint64_t n = 2; somethingAt(candidate); ++n)
        candidate = folder / (stamped + "-" + std::to_string(n) + extension);
    return candidate;
}

FotivelaProject ProjectStore::projectPreparedForExport() const
{
    FotivelaProject prepared = project();
    for (std::size_t i = 0; i < prepared.slides.size(); ++i) {
        Slide& slide = prepared.slides[i];
        slide.order = static_cast<std::int64_t>(i);
        if (!slide.isGeneratedTitleSlide || !trimmedWhitespaceAndNewlines(slide.title).empty())
            continue;
        if (slide.name == "Pantalla inicial")
            slide.title = "Titulo inicial";
        else if (slide.name == "Pantalla final")
            slide.title = "Titulo final";
    }
    return prepared;
}

void ProjectStore::writeProjectExportDebugManifest(const FotivelaProject& project, const fs::path& outputURL)
{
    std::string text;
    try {
        nlohmann::json slides = nlohmann::json::array();
        for (std::size_t i = 0; i < project.slides.size(); ++i) {
            const Slide& slide = project.slides[i];
            slides.push_back({{"index", i},
                              {"name", slide.name},
                              {"url", slide.imageURL.string()},
                              {"duration", slide.duration},
                              {"title", slide.title},
                              {"generatedTitle", slide.isGeneratedTitleSlide}});
        }
        const nlohmann::json manifest = {{"stage", "store-prepared"},
                                         {"date", formatIso8601Date(Clock::now())},
                                         {"outputPath", outputURL.string()},
                                         {"projectName", project.name},
                                         {"slideCount", project.slides.size()},
                                         {"slides", std::move(slides)}};
        // Refuses a duration that is not a number: then nothing is written or logged.
        text = encodeFotivelaJson(manifest);
    } catch (const std::exception&) {
        return;
    }
    try {
        atomicWriteFile(DuskmereStorage::temporaryDirectory() / "fotivela-store-export.json", text);
    } catch (const std::exception&) {
        // A diagnostic file never stops an export.
    }
    logLine("Fotivela store export prepared: " + std::to_string(project.slides.size()) + " slides -> "
            + outputURL.string());
}

void ProjectStore::exportVideo(const fs::path& url, std::function<void(bool)> finished)
{
    assertMainThread();
    if (isExporting()) {
        if (finished)
            finished(false);
        return;
    }
    const fs::path destination = resolvedExportURL(url);
    setIsExporting(true);
    setExportProgress(0);
    setExportMessage("Preparando exportacion");
    saveCurrentProjectImmediatelyIfPossible();
    FotivelaProject prepared = projectPreparedForExport();
    writeProjectExportDebugManifest(prepared, destination);

    const std::uint64_t run = ++m_exportRun;
    m_exportCancellation.source = std::make_shared<std::stop_source>();
    const std::weak_ptr<ProjectStore*> alive = m_lifetime;
    // Reports are posted in the order they are made and ahead of the run's end; a report of
    // a run that is over, or of a store that is gone, changes nothing.
    ExportProgressCallback progress = [alive, run](const ExportProgress& report) {
        postToMainThread([alive, run, report] {
            const std::shared_ptr<ProjectStore*> store = alive.lock();
            if (!store || (*store)->m_exportRun != run || !(*store)->isExporting())
                return;
            (*store)->setExportProgress(report.progress);
            (*store)->setExportMessage(report.message);
        });
    };
    runInBackground(
        TaskPriority::userInitiated,
        [prepared = std::move(prepared), destination, progress = std::move(progress),
         stop = m_exportCancellation.source->get_token()](std::stop_token) mutable -> std::exception_ptr {
            try {
                VideoExporter exporter(std::move(prepared), destination, progress, stop);
                exporter.exportProject();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        },
        [alive, run, destination, finished = std::move(finished)](std::exception_ptr error) {
            const std::shared_ptr<ProjectStore*> store = alive.lock();
            if (!store)
                return;
            (*store)->finishExport(run, destination, error, finished);
        });
}

void ProjectStore::cancelExport()
{
    assertMainThread();
    if (isExporting() && m_exportCancellation.source)
        m_exportCancellation.source->request_stop();
}

void ProjectStore::finishExport(std::uint64_t run, const fs::path& destination, std::exception_ptr error,
                                const std::function<void(bool)>& finished)
{
    assertMainThread();
    if (run != m_exportRun)
        return;
    m_exportCancellation.source.reset();
    if (!error) {
        setExportProgress(1.0);
        setExportMessage("Exportacion terminada");
        setIsExporting(false);
        if (m_dialogs.revealInFileViewer)
            m_dialogs.revealInFileViewer(destination);
        if (finished)
            finished(true);
        return;
    }
    std::string message = "No se pudo finalizar la exportacion.";
    bool cancelled = false;
    try {
        std::rethrow_exception(error);
    } catch (const ExportCancelledError& failure) {
        cancelled = true;
        message = failure.what();
    } catch (const std::exception& failure) {
        message = failure.what();
    } catch (...) {
    }
    if (cancelled) {
        // The user asked for it: no alert.
        setExportMessage(message);
    } else {
        logLine("Fotivela export failed: " + message);
        showError(message);
        setExportMessage("Error al exportar");
    }
    setIsExporting(false);
    if (finished)
        finished(false);
}

} // namespace fotivela
