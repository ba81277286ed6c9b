#pragma once

#include "model/export_settings.h"
#include "model/fotivela_project.h"
#include "model/slide.h"
#include "platform/error.h"
#include "platform/ffmpeg_handles.h"

#include <QImage>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace fotivela {

struct AudioFadeMix;
struct EncodedSongTrack;
struct MuxComposition;
struct MuxPreset;

// One progress report of an export: a fraction 0...1 and a Spanish status text.
struct ExportProgress {
    double progress = 0.0;
    std::string message;

    friend bool operator==(const ExportProgress&, const ExportProgress&) = default;
};

// Why an export failed. what() is the user's Spanish text: the detail, when
// there is one, on the first line and the fixed sentence after it.
class VideoExporterError : public Error {
public:
    enum class Kind {
        cannotLoadImage,
        failedToFinish,
        audioMuxFailed,
        cannotReplaceOutput,
        noSlides,
        cannotCreateWriter,
        cannotCreatePixelBuffer,
    };

    static VideoExporterError cannotLoadImage(const std::filesystem::path& photo);
    static VideoExporterError failedToFinish(std::optional<std::string> detail = std::nullopt);
    static VideoExporterError audioMuxFailed(std::optional<std::string> detail = std::nullopt);
    static VideoExporterError cannotReplaceOutput(std::optional<std::string> detail = std::nullopt);
    static VideoExporterError noSlides();
    static VideoExporterError cannotCreateWriter();
    static VideoExporterError cannotCreatePixelBuffer();

    Kind kind() const { return m_kind; }
    const std::optional<std::string>& detail() const { return m_detail; }
    // The fixed sentence of the case, without the detail.
    static std::string sentence(Kind kind);

private:
    VideoExporterError(Kind kind, std::optional<std::string> detail, const std::string& description);

    Kind m_kind;
    std::optional<std::string> m_detail;
};

// The export was cancelled by its caller; nothing is left at the destination.
class ExportCancelledError : public Error {
public:
    ExportCancelledError() : Error("Exportacion cancelada") {}
};

// The frame as the drawing sees it: possibly fractional sizes. The coded
// picture is the largest even size not above the truncated one.
struct RenderSize {
    double width = 0.0;
    double height = 0.0;

    int pixelWidth() const;
    int pixelHeight() const;
    // 4:2:0 video takes only even sizes.
    int codedWidth() const { return pixelWidth() & ~1; }
    int codedHeight() const { return pixelHeight() & ~1; }

    friend bool operator==(const RenderSize&, const RenderSize&) = default;
};

// What the video encoder is asked for.
struct VideoEncoderSettings {
    ExportCodec codec = ExportCodec::h265;
    int width = 0;
    int height = 0;
    std::int64_t averageBitRate = 0;
    // The average is also the most the stream may take over any second, so
    // that the file is never larger than the user asked for. Off only to
    // measure what the ceiling costs the picture.
    bool averageIsCeiling = true;
    int maxKeyFrameInterval = 1;
    int framesPerSecond = 1;
    bool allowFrameReordering = true;
    // The encoder's speed preset ("veryfast", "medium", ...).
    std::string preset;
    // Index at the front of the file: only for a file that is played as it is,
    // not for one that the song mux reads back and rewrites anyway.
    bool fastStart = true;
    // Fewer frames in the encoder at once (frame threads, look-ahead): for 4K,
    // where each frame the encoder holds costs megabytes.
    bool lowMemory = false;

    friend bool operator==(const VideoEncoderSettings&, const VideoEncoderSettings&) = default;
};

// What a drawing worker keeps from one frame to the next: the frame it draws
// into, and the picture a dissolve fades out of, which stays the same for
// the whole dissolve and so is drawn once.
struct FrameCanvas {
    QImage frame;
    QImage outgoing;
    std::size_t outgoingSlide = 0;
    RenderSize outgoingSize;
};

// Progress sink, called on the exporting thread; every call returns before
// the export goes on. Moving the value to the main thread is the caller's job.
using ExportProgressCallback = std::function<void(const ExportProgress&)>;

// Turns one project into one MP4 file. Made for one export and used once;
// exportProject() runs on a worker thread and blocks it until it is done.
class VideoExporter {
public:
    VideoExporter(FotivelaProject project, std::filesystem::path outputURL, ExportProgressCallback progress,
                  std::stop_token cancellation = {});

    const FotivelaProject& project() const { return m_project; }
    const std::vector<Slide>& slides() const { return m_slides; }
    const std::filesystem::path& outputURL() const { return m_outputURL; }

    // The whole export: frames, song and the move into place. Throws
    // VideoExporterError or ExportCancelledError; the destination keeps any
    // earlier file until the new one is complete.
    void exportProject();

    // Deletes a file at the path; a failed removal throws cannotReplaceOutput.
    static void removeExistingFileIfNeeded(const std::filesystem::path& file);

    // "fotivela-last-export.json" in the temporary folder; never fails the export.
    void writeExportDebugManifest(const std::string& stage, const std::filesystem::path& outputURL,
                                  const std::filesystem::path& temporaryVideoURL) const;

    // Frames and encoding.
    void encodeVideo(const std::filesystem::path& destination) const;
    static RenderSize renderSize(const FotivelaProject& project);
    VideoEncoderSettings videoSettings(RenderSize size, const ExportSettings& settings) const;
    static int exportImageMaxPixelSize(RenderSize size, ExportQuality quality);
    std::vector<double> cumulativeSlideStartTimes() const;
    // One frame: the slide at the index, localTime seconds after its start.
    // images maps slide indices to their loaded photos (this one and the one before).
    QImage makePixelBuffer(RenderSize size, std::size_t slideIndex, double localTime,
                           const std::map<std::size_t, QImage>& images) const;
    // The same into a canvas that is reused from one picture to the next: every
    // pixel is drawn again, and a frame of another size is replaced.
    void drawFrame(FrameCanvas& canvas, RenderSize size, std::size_t slideIndex, double localTime,
                   const std::map<std::size_t, QImage>& images) const;
    // Threads that draw frames ahead of the encoder; 0 (the default) sizes them
    // to the machine. Every count gives the same frames.
    void setFrameWorkers(int count) { m_frameWorkers = count; }

    // The photo of one slide at the export's size.
    QImage loadImage(std::size_t slideIndex, int maxPixelSize) const;

    // The song with its fade-out into the final file. `prepared`, the track
    // encoded ahead for this cut, is copied as it is; else the song is encoded here.
    void muxOriginalAudio(const std::filesystem::path& videoURL, const std::filesystem::path& originalAudioURL,
                          const std::filesystem::path& outputURL, EncodedSongTrack* prepared = nullptr) const;
    // The sum of the slides' durations.
    double slideshowSeconds() const;
    // The song's fade for a cut at `end` seconds: none unless the song is cut to the slideshow.
    AudioFadeMix songFade(double end) const;

private:
    // The song mux's steps: the composition both ways share, the copy of the
    // encoded video with the song, and the second way through the presets.
    // Each way writes the whole file at outputURL, which the mux then moves into place.
    MuxComposition muxComposition(const std::filesystem::path& videoURL,
                                  const std::filesystem::path& originalAudioURL) const;
    void muxWithReaderWriter(const MuxComposition& composition, const std::filesystem::path& outputURL,
                             EncodedSongTrack* prepared) const;
    void exportCompositionWithFallback(const MuxComposition& composition, const std::filesystem::path& outputURL) const;
    void exportComposition(const MuxComposition& composition, const std::filesystem::path& outputURL,
                           const MuxPreset& preset) const;

    void report(double progress, const std::string& message) const;
    bool usesSong() const;
    void throwIfCancelled() const;
    // The slide's whole picture without its title: the background and the photo.
    void drawSlide(QImage& frame, RenderSize size, const Slide& slide, const QImage& image,
                   double kenBurnsProgress) const;

    FotivelaProject m_project;
    std::vector<Slide> m_slides;
    std::filesystem::path m_outputURL;
    ExportProgressCallback m_progress;
    std::stop_token m_cancellation;
    int m_frameWorkers = 0;
};

} // namespace fotivela
