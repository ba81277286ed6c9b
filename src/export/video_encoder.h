#pragma once

#include "export/bt709_frame_converter.h"
#include "export/video_exporter.h"
#include "platform/ffmpeg_handles.h"

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

namespace fotivela {

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
