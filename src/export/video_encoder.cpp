#include "export/video_encoder.h"

#include "export/export_file_moves.h"
#include "platform/ffmpeg_log.h"
#include "platform/log.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <limits>
#include <string>

namespace fotivela {

namespace {

[[noreturn]] void failWriting(int code)
{
    throw VideoExporterError::failedToFinish(ffmpegErrorDetail(code));
}

} // namespace

namespace {

// Each frame an encoder holds at 4K costs tens of megabytes (x264 keeps its
// interpolated planes; x265 ~25 MB for each picture it has taken in and ~55 MB
// more for each it encodes or refers to). x264 then splits each frame into
// slices, one for each thread, rather than encoding several frames at once;
// x265 keeps one frame thread, a shorter look-ahead and two B-frames that are
// never references. Measured at 4K on detailed photographs: x264's picture is
// better than with its frame threads and the encode faster; x265's within
// 0.1 dB, its encode slower.
constexpr const char* x264LowMemory = "sliced-threads=1:rc-lookahead=5:sync-lookahead=0";
constexpr const char* x265LowMemory = "frame-threads=1:rc-lookahead=3:bframes=2:b-pyramid=0:lookahead-slices=0";

// The rate ceiling: one second of the average at most in the encoder's
// buffer, half of it available at the start. Over any stretch of T seconds
// the stream then takes at most (T + 0.5) seconds of the average, +5 % on a
// 10 s film, while a key frame still gets up to half a second's worth. A
// larger buffer started less full starves the first seconds instead. What it
// costs where a plain target would not have overshot (bench_export_bitrate,
// 1080p detailed photographs, 10 and 40 s): x264 spends 5-10 % under the
// setting, 0.3-0.5 dB PSNR; x265 within 0.1 dB.
constexpr double rateBufferSeconds = 1.0;
constexpr double rateBufferStart = 0.5;

void applyRateCeiling(AVCodecContext* context, std::int64_t averageBitRate)
{
    const auto buffer = static_cast<std::int64_t>(static_cast<double>(averageBitRate) * rateBufferSeconds);
    context->rc_max_rate = averageBitRate;
    context->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(buffer, std::numeric_limits<int>::max()));
    context->rc_initial_buffer_occupancy = static_cast<int>(context->rc_buffer_size * rateBufferStart);
}

// x265 takes most of its settings as one text; its wrapper reads neither the
// start of the rate buffer nor a memory budget from the context.
std::string x265Parameters(const VideoEncoderSettings& settings)
{
    std::string parameters = "log-level=error";
    if (settings.averageIsCeiling)
        parameters += ":vbv-init=" + std::to_string(rateBufferStart);
    if (settings.lowMemory)
        parameters += std::string(":") + x265LowMemory;
    return parameters;
}

} // namespace

const char* VideoEncoder::encoderName(ExportCodec codec)
{
    return codec == ExportCodec::h264 ? "libx264" : "libx265";
}

std::string encoderPreset(ExportCodec codec, ExportQuality quality)
{
    // The fastest preset whose picture stays within 0.3 dB PSNR and 0.002 SSIM
    // of "medium" at the quality's default bit rate, measured on detailed
    // photographs with Ken Burns and a dissolve (bench_export_presets).
    if (codec == ExportCodec::h264)
        return quality == ExportQuality::quick ? "faster" : "fast";
    switch (quality) {
    case ExportQuality::quick:
        return "superfast";
    case ExportQuality::high:
        return "medium";
    case ExportQuality::premium:
        return "fast";
    }
    return "medium";
}

VideoEncoder::VideoEncoder(const std::filesystem::path& destination, const VideoEncoderSettings& settings)
    : m_settings(settings), m_packet(av_packet_alloc())
{
    if (settings.width < 2 || settings.height < 2 || settings.framesPerSecond < 1 || !m_packet)
        throw VideoExporterError::cannotCreateWriter();
    routeFfmpegLogToLog();

    AVFormatContext* output = nullptr;
    if (avformat_alloc_output_context2(&output, nullptr, "mp4", destination.c_str()) < 0 || output == nullptr)
        throw VideoExporterError::cannotCreateWriter();
    m_output.reset(output);

    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName(settings.codec));
    if (codec == nullptr)
        throw VideoExporterError::cannotCreateWriter();
    m_codec.reset(avcodec_alloc_context3(codec));
    m_stream = avformat_new_stream(output, nullptr);
    if (!m_codec || m_stream == nullptr)
        throw VideoExporterError::cannotCreateWriter();

    AVCodecContext* context = m_codec.get();
    context->width = settings.width;
    context->height = settings.height;
    context->time_base = AVRational{1, settings.framesPerSecond};
    context->framerate = AVRational{settings.framesPerSecond, 1};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->bit_rate = settings.averageBitRate;
    if (settings.averageIsCeiling)
        applyRateCeiling(context, settings.averageBitRate);
    context->gop_size = settings.maxKeyFrameInterval;
    if (!settings.allowFrameReordering)
        context->max_b_frames = 0;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;
    context->colorspace = AVCOL_SPC_BT709;
    context->color_range = AVCOL_RANGE_MPEG;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const std::string preset = settings.preset.empty() ? "medium" : settings.preset;
    av_opt_set(context->priv_data, "preset", preset.c_str(), 0);
    // 0: each encoder sizes its threads to the machine by its own rule (x264
    // about 1.5 frame threads a core; x265 a pool of every core and 3 frame
    // threads on 8 cores). x265's wrapper passes the context's count on as
    // frame threads, and the context's default of 1 would leave x265 on one frame.
    context->thread_count = 0;
    if (settings.codec == ExportCodec::h264) {
        av_opt_set(context->priv_data, "profile", "high", 0);
        if (settings.lowMemory)
            av_opt_set(context->priv_data, "x264-params", x264LowMemory, 0);
    } else {
        av_opt_set(context->priv_data, "profile", "main", 0);
        av_opt_set(context->priv_data, "x265-params", x265Parameters(settings).c_str(), 0);
    }
    if (const int result = avcodec_open2(context, codec, nullptr); result < 0) {
        logLine("Fotivela export encoder refused its settings: " + ffmpegErrorText(result));
        throw VideoExporterError::cannotCreateWriter();
    }
    if (avcodec_parameters_from_context(m_stream->codecpar, context) < 0)
        throw VideoExporterError::cannotCreateWriter();
    m_stream->time_base = context->time_base;
    m_stream->avg_frame_rate = context->framerate;
    // Players of the Apple family refuse HEVC tagged 'hev1'.
    m_stream->codecpar->codec_tag = settings.codec == ExportCodec::h265 ? MKTAG('h', 'v', 'c', '1') : 0;

    if (const int result = avio_open(&output->pb, destination.c_str(), AVIO_FLAG_WRITE); result < 0)
        failWriting(result);
    AVDictionary* options = nullptr;
    if (settings.fastStart)
        av_dict_set(&options, "movflags", "+faststart", 0);
    const int result = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (result < 0)
        failWriting(result);
}

VideoEncoder::~VideoEncoder() = default;

void VideoEncoder::append(AVFrame* frame, std::int64_t index)
{
    frame->pts = index;
    if (const int result = avcodec_send_frame(m_codec.get(), frame); result < 0)
        failWriting(result);
    drain(false, {});
}

void VideoEncoder::drain(bool flushing, const std::stop_token& cancellation)
{
    for (;;) {
        // Flushing a deep look-ahead takes seconds at 4K: a cancel is heard between packets.
        if (cancellation.stop_requested())
            throw ExportCancelledError();
        const int result = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (result == AVERROR(EAGAIN) || (flushing && result == AVERROR_EOF))
            return;
        if (result < 0)
            failWriting(result);
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        if (const int written = av_interleaved_write_frame(m_output.get(), m_packet.get()); written < 0)
            failWriting(written);
    }
}

void VideoEncoder::finish(std::stop_token cancellation)
{
    if (m_finished)
        return;
    m_finished = true;
    if (const int result = avcodec_send_frame(m_codec.get(), nullptr); result < 0)
        failWriting(result);
    drain(true, cancellation);
    if (const int result = av_write_trailer(m_output.get()); result < 0)
        failWriting(result);
    if (const int result = avio_closep(&m_output->pb); result < 0)
        failWriting(result);
}

} // namespace fotivela
