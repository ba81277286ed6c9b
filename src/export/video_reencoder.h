#pragma once

#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <filesystem>
#include <functional>
#include <memory>

namespace fotivela {

struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// Decodes an encoded video's frames before a time and encodes them again with
// other settings (codec, size), scaled to fit: the song mux's second way.
class VideoReencoder {
public:
    // Opens the video's decoder and the encoder; throws audioMuxFailed
    // ("No se pudo preparar la sesion de exportacion de audio.") when either cannot be made.
    VideoReencoder(const std::filesystem::path& source, double end, const VideoEncoderSettings& settings,
                   const std::filesystem::path& destination);
    ~VideoReencoder();
    VideoReencoder(const VideoReencoder&) = delete;
    VideoReencoder& operator=(const VideoReencoder&) = delete;

    // Writes the whole file. Throws VideoExporterError, or what throwIfCancelled throws.
    void run(const std::function<void()>& throwIfCancelled);

private:
    void encode(const AVFrame& decoded);

    VideoEncoderSettings m_settings;
    double m_end;
    InputFormatContextPtr m_input;
    int m_index = -1;
    CodecContextPtr m_decoder;
    std::unique_ptr<VideoEncoder> m_encoder;
    SwsContextPtr m_scaler;
    std::int64_t m_lastIndex = -1;
};

} // namespace fotivela
