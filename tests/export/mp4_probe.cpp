#include "export/mp4_probe.h"

#include "platform/ffmpeg_handles.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace fotivela::test {

namespace {

InputFormatContextPtr open(const std::filesystem::path& file)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + file.string());
    InputFormatContextPtr owned(context);
    if (avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("no stream info in " + file.string());
    return owned;
}

CodecContextPtr openDecoder(const AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(context.get(), stream->codecpar);
    if (codec == nullptr || avcodec_open2(context.get(), codec, nullptr) < 0)
        throw std::runtime_error("no decoder");
    return context;
}

// Feeds every packet of one stream to its decoder and hands each decoded frame to onFrame.
template <typename OnFrame>
void decodeStream(AVFormatContext* context, int index, AVCodecContext* decoder, OnFrame onFrame)
{
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    const auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame.get()) == 0)
            onFrame(*frame);
    };
    while (av_read_frame(context, packet.get()) >= 0) {
        if (packet->stream_index == index)
            avcodec_send_packet(decoder, packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(decoder, nullptr);
    receive();
}

double seconds(const AVStream* stream, std::int64_t value)
{
    return static_cast<double>(value) * av_q2d(stream->time_base);
}

} // namespace

Mp4Info probeMp4(const std::filesystem::path& file)
{
    const auto context = open(file);
    Mp4Info info;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* p = stream->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
            info.hasVideo = true;
            info.videoCodec = p->codec_id;
            info.videoTag = p->codec_tag;
            info.width = p->width;
            info.height = p->height;
            info.videoDuration = seconds(stream, stream->duration);
            info.primaries = p->color_primaries;
            info.transfer = p->color_trc;
            info.matrix = p->color_space;
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.hasAudio = true;
            info.audioCodec = p->codec_id;
            info.sampleRate = p->sample_rate;
            info.channels = p->ch_layout.nb_channels;
            info.audioDuration = seconds(stream, stream->duration);
        }
    }
    return info;
}

std::int64_t videoStreamBytes(const std::filesystem::path& file)
{
    const auto context = open(file);
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const PacketPtr packet(av_packet_alloc());
    std::int64_t bytes = 0;
    while (av_read_frame(context.get(), packet.get()) >= 0) {
        if (packet->stream_index == index)
            bytes += packet->size;
        av_packet_unref(packet.get());
    }
    return bytes;
}

YCbCr decodedPixel(const std::filesystem::path& file, double time, int x, int y)
{
    const auto context = open(file);
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* stream = context->streams[index];
    const auto decoder = openDecoder(stream);
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    bool draining = false;
    for (;;) {
        if (!draining) {
            const int read = av_read_frame(context.get(), packet.get());
            if (read < 0) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                if (packet->stream_index == index)
                    avcodec_send_packet(decoder.get(), packet.get());
                av_packet_unref(packet.get());
            }
        }
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            if (seconds(stream, frame->best_effort_timestamp) + 1e-6 >= time) {
                return {frame->data[0][y * frame->linesize[0] + x], frame->data[1][(y / 2) * frame->linesize[1] + x / 2],
                        frame->data[2][(y / 2) * frame->linesize[2] + x / 2]};
            }
        }
        if (draining)
            throw std::runtime_error("no frame at that time");
    }
}

std::vector<std::uint64_t> frameChecksums(const std::filesystem::path& file)
{
    const auto context = open(file);
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const auto decoder = openDecoder(context->streams[index]);
    std::vector<std::uint64_t> sums;
    decodeStream(context.get(), index, decoder.get(), [&](const AVFrame& frame) {
        std::uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (int plane = 0; plane < 3; ++plane) {
            const int width = plane == 0 ? frame.width : (frame.width + 1) / 2;
            const int height = plane == 0 ? frame.height : (frame.height + 1) / 2;
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* row = frame.data[plane] + y * frame.linesize[plane];
                for (int x = 0; x < width; ++x)
                    hash = (hash ^ row[x]) * 1099511628211ull;
            }
        }
        sums.push_back(hash);
    });
    return sums;
}

std::vector<std::vector<std::uint8_t>> frameLumas(const std::filesystem::path& file)
{
    const auto context = open(file);
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const auto decoder = openDecoder(context->streams[index]);
    std::vector<std::vector<std::uint8_t>> planes;
    decodeStream(context.get(), index, decoder.get(), [&](const AVFrame& frame) {
        std::vector<std::uint8_t>& plane = planes.emplace_back();
        for (int y = 0; y < frame.height; ++y) {
            const std::uint8_t* row = frame.data[0] + y * frame.linesize[0];
            plane.insert(plane.end(), row, row + frame.width);
        }
    });
    return planes;
}

double meanLumaDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        throw std::runtime_error("pictures of different sizes");
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return sum / static_cast<double>(a.size());
}

bool indexAtFront(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::uint64_t offset = 0;
    unsigned char header[8];
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        std::uint64_t size = (std::uint64_t{header[0]} << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        const std::string type(reinterpret_cast<char*>(header + 4), 4);
        if (type == "moov")
            return true;
        if (type == "mdat")
            return false;
        if (size == 1) {
            unsigned char large[8];
            in.read(reinterpret_cast<char*>(large), 8);
            size = 0;
            for (const unsigned char byte : large)
                size = (size << 8) | byte;
        }
        if (size < 8)
            return false;
        offset += size;
        in.seekg(static_cast<std::streamoff>(offset));
    }
    return false;
}

std::vector<float> decodedAudio(const std::filesystem::path& file, int& sampleRate)
{
    const auto context = open(file);
    const int index = av_find_best_stream(context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no audio");
    const AVStream* stream = context->streams[index];
    const auto decoder = openDecoder(stream);
    sampleRate = decoder->sample_rate;
    std::vector<float> samples;
    decodeStream(context.get(), index, decoder.get(), [&](const AVFrame& frame) {
        if (frame.format != AV_SAMPLE_FMT_FLTP)
            throw std::runtime_error("unexpected sample format");
        const auto* channel = reinterpret_cast<const float*>(frame.data[0]);
        samples.insert(samples.end(), channel, channel + frame.nb_samples);
    });
    return samples;
}

double rms(const std::vector<float>& samples, int sampleRate, double from, double to)
{
    const auto first = static_cast<std::size_t>(std::max(0.0, from * sampleRate));
    const auto last = std::min(samples.size(), static_cast<std::size_t>(std::max(0.0, to * sampleRate)));
    if (last <= first)
        return 0.0;
    double sum = 0.0;
    for (std::size_t i = first; i < last; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(last - first));
}

} // namespace fotivela::test
