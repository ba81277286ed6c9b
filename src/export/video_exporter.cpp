#include "export/video_exporter.h"

#include "export/export_file_moves.h"
#include "export/export_temporaries.h"
#include "export/song_mux.h"
#include "platform/atomic_file.h"
#include "platform/audio_decoder.h"
#include "platform/duskmere_storage.h"
#include "platform/iso8601_date.h"
#include "platform/json_encoder.h"
#include "platform/large_allocations.h"
#include "platform/log.h"
#include "platform/uuid.h"

#include <cmath>
#include <system_error>

namespace fotivela {

namespace {

std::string describe(VideoExporterError::Kind kind, const std::optional<std::string>& detail)
{
    const std::string sentence = VideoExporterError::sentence(kind);
    if (!detail)
        return sentence;
    return *detail + "\n" + sentence;
}

// Removes the temporary file whatever way the run ends.
class TemporaryFileGuard {
public:
    explicit TemporaryFileGuard(std::filesystem::path file) : m_file(std::move(file)) {}
    ~TemporaryFileGuard()
    {
        std::error_code ignored;
        std::filesystem::remove(m_file, ignored);
    }
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

private:
    std::filesystem::path m_file;
};

} // namespace

VideoExporterError::VideoExporterError(Kind kind, std::optional<std::string> detail, const std::string& description)
    : Error(description), m_kind(kind), m_detail(std::move(detail))
{
}

std::string VideoExporterError::sentence(Kind kind)
{
    switch (kind) {
    case Kind::cannotLoadImage:
        return "No se pudo cargar la imagen";
    case Kind::failedToFinish:
        return "No se pudo finalizar la exportacion.";
    case Kind::audioMuxFailed:
        return "No se pudo anadir la musica al MP4.";
    case Kind::cannotReplaceOutput:
        return "No se pudo sustituir el MP4 anterior.";
    case Kind::noSlides:
        return "No hay fotos para exportar.";
    case Kind::cannotCreateWriter:
        return "No se pudo crear el codificador de video.";
    case Kind::cannotCreatePixelBuffer:
        return "No se pudo crear un buffer de video.";
    }
    return {};
}

VideoExporterError VideoExporterError::cannotLoadImage(const std::filesystem::path& photo)
{
    const std::string name = photo.filename().string();
    return {Kind::cannotLoadImage, name, sentence(Kind::cannotLoadImage) + " " + name + "."};
}

VideoExporterError VideoExporterError::failedToFinish(std::optional<std::string> detail)
{
    const std::string description = describe(Kind::failedToFinish, detail);
    return {Kind::failedToFinish, std::move(detail), description};
}

VideoExporterError VideoExporterError::audioMuxFailed(std::optional<std::string> detail)
{
    const std::string description = describe(Kind::audioMuxFailed, detail);
    return {Kind::audioMuxFailed, std::move(detail), description};
}

VideoExporterError VideoExporterError::cannotReplaceOutput(std::optional<std::string> detail)
{
    const std::string description = describe(Kind::cannotReplaceOutput, detail);
    return {Kind::cannotReplaceOutput, std::move(detail), description};
}

VideoExporterError VideoExporterError::noSlides()
{
    return {Kind::noSlides, std::nullopt, sentence(Kind::noSlides)};
}

VideoExporterError VideoExporterError::cannotCreateWriter()
{
    return {Kind::cannotCreateWriter, std::nullopt, sentence(Kind::cannotCreateWriter)};
}

VideoExporterError VideoExporterError::cannotCreatePixelBuffer()
{
    return {Kind::cannotCreatePixelBuffer, std::nullopt, sentence(Kind::cannotCreatePixelBuffer)};
}

VideoExporter::VideoExporter(FotivelaProject project, std::filesystem::path outputURL, ExportProgressCallback progress,
                             std::stop_token cancellation)
    : m_project(std::move(project)), m_outputURL(std::move(outputURL)), m_progress(std::move(progress)),
      m_cancellation(std::move(cancellation))
{
    for (std::size_t i = 0; i < m_project.slides.size(); ++i)
        m_project.slides[i].order = static_cast<std::int64_t>(i);
    m_slides = m_project.slides;
}

void VideoExporter::report(double progress, const std::string& message) const
{
    if (m_progress)
        m_progress(ExportProgress{progress, message});
}

bool VideoExporter::usesSong() const
{
    return m_project.exportSettings.includeAudio && m_project.audio.has_value();
}

void VideoExporter::throwIfCancelled() const
{
    if (m_cancellation.stop_requested())
        throw ExportCancelledError();
}

void VideoExporter::removeExistingFileIfNeeded(const std::filesystem::path& file)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, error)))
        return;
    if (!std::filesystem::remove(file, error) && error)
        throw VideoExporterError::cannotReplaceOutput(fileErrorDetail(error));
}

void VideoExporter::exportProject()
{
    if (m_slides.empty())
        throw VideoExporterError::noSlides();

    std::error_code error;
    if (usesSong() && !std::filesystem::is_regular_file(m_project.audio->url, error))
        throw VideoExporterError::audioMuxFailed("No se encuentra el archivo de musica del proyecto.");
    // Nor on a song that does not decode: the sound is added only once the picture is done.
    if (usesSong()) {
        try {
            AudioDecoder probe(m_project.audio->url);
        } catch (const AudioDecoderError& error) {
            const bool noTrack = error.kind() == AudioDecoderError::Kind::cannotOpen
                || error.kind() == AudioDecoderError::Kind::noAudioStream;
            throw VideoExporterError::audioMuxFailed(noTrack ? "No se encontro una pista de audio valida."
                                                             : "No se pudo leer la pista de audio original.");
        }
    }
    // Minutes of rendering are not spent on a file that could never be put in place.
    checkDestinationIsWritable(m_outputURL);
    // A start-up sweep leaves this run's temporaries alone and finds a copy it leaves behind.
    const ExportTemporaries::ActivityLock activity;
    ExportTemporaries::recordDestinationFolder(m_outputURL);

    const std::filesystem::path temporaryVideo =
        DuskmereStorage::temporaryDirectory() / (".fotivela-" + Uuid::random().toString() + ".mp4");
    const TemporaryFileGuard removeTemporaryVideo(temporaryVideo);
    removeExistingFileIfNeeded(temporaryVideo);
    // An earlier file at the destination is replaced only once the new one is
    // complete: a failed export must not cost the user the old video.

    writeExportDebugManifest("before-render", m_outputURL, temporaryVideo);
    report(0.0, "Preparando codificador");
    // However the export ends, what the encoder and the frames freed goes back to the system.
    struct ReturnMemoryOnExit {
        ~ReturnMemoryOnExit() { returnFreedMemoryToSystem(); }
    } const returnMemory;
    // The song is encoded while the frames are, for the cut the video will
    // have; the mux then only copies both into the final file. Its packets
    // stay in memory (~86 MB an hour): a longer track is encoded in the mux.
    constexpr double longestTrackAhead = 3600.0;
    std::optional<SongTrackEncoding> songAhead;
    const double songEnd = onMediaGrid(slideshowSeconds());
    if (usesSong() && songEnd <= longestTrackAhead)
        songAhead.emplace(m_project.audio->url, songFade(songEnd), songEnd);
    encodeVideo(temporaryVideo);
    throwIfCancelled();

    if (usesSong()) {
        report(0.94, "Anadiendo musica");
        try {
            if (songAhead) {
                EncodedSongTrack song = songAhead->take(m_cancellation);
                muxOriginalAudio(temporaryVideo, m_project.audio->url, m_outputURL, &song);
            } else {
                muxOriginalAudio(temporaryVideo, m_project.audio->url, m_outputURL);
            }
        } catch (const VideoExporterError&) {
            throw;
        } catch (const ExportCancelledError&) {
            throw;
        } catch (const std::exception& failure) {
            throw VideoExporterError::audioMuxFailed(failure.what());
        }
    } else {
        moveFileIntoPlace(temporaryVideo, m_outputURL);
    }

    if (!std::filesystem::is_regular_file(m_outputURL, error))
        throw VideoExporterError::failedToFinish("No se encontro el MP4 final generado.");
    writeExportDebugManifest("finished", m_outputURL, temporaryVideo);
    report(1.0, "Exportacion terminada");
}

void VideoExporter::writeExportDebugManifest(const std::string& stage, const std::filesystem::path& outputURL,
                                             const std::filesystem::path& temporaryVideoURL) const
{
    try {
        double total = 0.0;
        nlohmann::json slides = nlohmann::json::array();
        for (std::size_t i = 0; i < m_slides.size(); ++i) {
            const Slide& slide = m_slides[i];
            total += slide.duration;
            slides.push_back({{"index", i},
                              {"name", slide.name},
                              {"url", slide.imageURL.string()},
                              {"duration", slide.duration},
                              {"title", slide.title},
                              {"generatedTitle", slide.isGeneratedTitleSlide}});
        }
        const nlohmann::json manifest = {{"stage", stage},
                                         {"date", formatIso8601Date(std::chrono::system_clock::now())},
                                         {"outputPath", outputURL.string()},
                                         {"temporaryPath", temporaryVideoURL.string()},
                                         {"projectName", m_project.name},
                                         {"slideCount", m_slides.size()},
                                         {"duration", total},
                                         {"slides", std::move(slides)}};
        // Throws for a duration that is not a number: then nothing is written or logged.
        const std::string text = encodeFotivelaJson(manifest);
        try {
            atomicWriteFile(DuskmereStorage::temporaryDirectory() / "fotivela-last-export.json", text);
        } catch (const std::exception&) {
            // A diagnostic file never fails the export.
        }
        logLine("Fotivela export " + stage + ": " + std::to_string(m_slides.size()) + " slides -> " +
                outputURL.string());
    } catch (const std::exception&) {
    }
}

} // namespace fotivela
