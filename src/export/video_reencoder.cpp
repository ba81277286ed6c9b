#include "export/video_reencoder.h"

#include "export/export_file_moves.h"
#include "platform/ffmpeg_log.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cmath>

namespace fotivela {

namespace {

[[noreturn]] void failSession()
{
    throw VideoExporterError::audioMuxFailed("No se pudo preparar la sesion de exportacion de audio.");
}

void check(int result, const char* fixedDetail)
{
    if (result < 0)
        throw VideoExporterError::audioMuxFailed(fixedDetail ? std::string(fixedDetail) : ffmpegErrorDetail(result));
}

} // namespace

VideoReencoder::VideoReencoder(const std::filesystem::path& source, double end, const VideoEncoderSettings& settings,
                               const std::filesystem::path& destination)
    : m_settings(settings), m_end(end)
{
    routeFfmpegLogToLog();
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, source.c_str(), nullptr, nullptr) < 0)
        failSession();
    m_input.reset(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0)
        failSession();
    m_index = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_index < 0)
        failSession();
    const AVCodecParameters* parameters = opened->streams[m_index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr)
        failSession();
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), parameters) < 0)
        failSession();
    m_decoder->thread_count = 0;
    if (avcodec_open2(m_decoder.get(), codec, nullptr) < 0)
        failSession();
    try {
        m_encoder = std::make_unique<VideoEncoder>(destination, settings);
    } catch (const VideoExporterError&) {
        failSession();
    }
}

VideoReencoder::~VideoReencoder() = default;

void VideoReencoder::run(const std::function<void()>& throwIfCancelled)
{
    const AVStream* stream = m_input->streams[m_index];
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        failSession();
    const auto receive = [&] {
        for (;;) {
            const int result = avcodec_receive_frame(m_decoder.get(), frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return;
            check(result, "No se pudo leer la pista de video codificada.");
            const std::int64_t time = frame->best_effort_timestamp;
            if (time == AV_NOPTS_VALUE || static_cast<double>(time) * av_q2d(stream->time_base) < m_end)
                encode(*frame);
            av_frame_unref(frame.get());
        }
    };
    for (;;) {
        throwIfCancelled();
        const int read = av_read_frame(m_input.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        check(read, "No se pudo leer la pista de video codificada.");
        if (packet->stream_index == m_index) {
            const int sent = avcodec_send_packet(m_decoder.get(), packet.get());
            av_packet_unref(packet.get());
            check(sent, "No se pudo leer la pista de video codificada.");
            receive();
        } else {
            av_packet_unref(packet.get());
        }
    }
    check(avcodec_send_packet(m_decoder.get(), nullptr), "No se pudo leer la pista de video codificada.");
    receive();
    if (m_lastIndex < 0)
        throw VideoExporterError::audioMuxFailed("No se encontro una pista de video valida.");
    try {
        m_encoder->finish();
    } catch (const VideoExporterError& failure) {
        throw VideoExporterError::audioMuxFailed(failure.detail().value_or(VideoExporterError::sentence(failure.kind())));
    }
}

void VideoReencoder::encode(const AVFrame& decoded)
{
    const AVStream* stream = m_input->streams[m_index];
    // Frame i of the film is shown at i / fps; a frame that would land on the
    // one before (a source with another rate) is left out.
    const std::int64_t time = decoded.best_effort_timestamp != AV_NOPTS_VALUE ? decoded.best_effort_timestamp : 0;
    const auto index = static_cast<std::int64_t>(
        std::llround(static_cast<double>(time) * av_q2d(stream->time_base) * m_settings.framesPerSecond));
    if (index <= m_lastIndex)
        return;
    if (!m_scaler) {
        m_scaler.reset(sws_getContext(decoded.width, decoded.height, static_cast<AVPixelFormat>(decoded.format),
                                      m_settings.width, m_settings.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                      nullptr, nullptr));
        if (!m_scaler)
            failSession();
        // The film's pictures are BT.709 on both sides; only the size changes.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(m_scaler.get(), bt709, decoded.color_range == AVCOL_RANGE_JPEG ? 1 : 0, bt709, 0, 0,
                                 1 << 16, 1 << 16);
    }
    const FramePtr scaled(av_frame_alloc());
    if (!scaled)
        failSession();
    scaled->format = AV_PIX_FMT_YUV420P;
    scaled->width = m_settings.width;
    scaled->height = m_settings.height;
    scaled->color_primaries = AVCOL_PRI_BT709;
    scaled->color_trc = AVCOL_TRC_BT709;
    scaled->colorspace = AVCOL_SPC_BT709;
    scaled->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        failSession();
    sws_scale(m_scaler.get(), decoded.data, decoded.linesize, 0, decoded.height, scaled->data, scaled->linesize);
    try {
        m_encoder->append(scaled.get(), index);
    } catch (const VideoExporterError& failure) {
        throw VideoExporterError::audioMuxFailed(failure.detail().value_or(VideoExporterError::sentence(failure.kind())));
    }
    m_lastIndex = index;
}

} // namespace fotivela
