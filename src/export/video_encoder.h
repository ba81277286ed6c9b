#pragma once

#include "export/video_exporter.h"
#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

namespace fotivela {

struct SwsContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// Turns drawn frames (QImage::Format_RGB32) into BT.709 limited-range 4:2:0,
// the matrix the file's colour tags name.
class Bt709FrameConverter {
public:
    Bt709FrameConverter(int width, int height);

    // A new reference to the converted picture. The converter never writes
    // over a picture still held elsewhere: it takes one of its pictures nobody
    // holds any more, or new memory.
    FramePtr convert(const QImage& image);

private:
    // Pictures kept for reuse: a new 4K one costs the system 12 MB of fresh
    // zeroed pages on every frame.
    static constexpr std::size_t keptFrames = 8;

    AVFrame* writableFrame();

    int m_width;
    int m_height;
    SwsContextPtr m_scaler;
    std::vector<FramePtr> m_frames;
};

// The encoder preset an export of the quality uses.
std::string encoderPreset(ExportCodec codec, ExportQuality quality);

// The MPEG-4 writer of the silent video: libx264 or libx265 with the
// exporter's settings and BT.709 colour tags, the index at the front of the file.
class VideoEncoder {
public:
    // Throws cannotCreateWriter when no encoder takes the settings, failedToFinish
    // when the file cannot be written.
    VideoEncoder(const std::filesystem::path& destination, const VideoEncoderSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Encodes a converted frame at presentation time index / fps.
    void append(AVFrame* frame, std::int64_t index);
    // Flushes the encoder and completes the file. Throws failedToFinish, or
    // ExportCancelledError when the stop is requested before the flush ends.
    void finish(std::stop_token cancellation = {});

    static const char* encoderName(ExportCodec codec);

private:
    void drain(bool flushing, const std::stop_token& cancellation);

    VideoEncoderSettings m_settings;
    OutputFormatContextPtr m_output;
    CodecContextPtr m_codec;
    AVStream* m_stream = nullptr;
    PacketPtr m_packet;
    bool m_finished = false;
};

} // namespace fotivela
