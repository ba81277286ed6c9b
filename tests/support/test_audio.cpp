#include "support/test_audio.h"

#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fotivela::test {
namespace fs = std::filesystem;

namespace {

void check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error("test audio: " + what);
}

void checkAv(int result, const std::string& what)
{
    if (result < 0)
        throw std::runtime_error("test audio: " + what + ": " + ffmpegErrorText(result));
}

// Calls f(channelIndex) for the selected channel or for all of them.
template <typename F> void forChannels(TestSignal& signal, int channel, F&& f)
{
    for (int c = 0; c < signal.channelCount(); ++c)
        if (channel == allChannels || channel == c)
            f(signal.channels[static_cast<std::size_t>(c)]);
}

std::int64_t frameAt(const TestSignal& signal, double seconds)
{
    return static_cast<std::int64_t>(std::llround(seconds * signal.sampleRate));
}

std::int32_t toInt(float sample, int bits)
{
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::nearbyint(static_cast<double>(sample) * scale);
    return static_cast<std::int32_t>(std::clamp(v, -scale, scale - 1.0));
}

void writeWithSndfile(const fs::path& file, const TestSignal& signal, TestAudioFormat format)
{
    int sfFormat = 0;
    int bits = 16;
    switch (format) {
    case TestAudioFormat::wav16: sfFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_16; break;
    case TestAudioFormat::wav24: sfFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_24; bits = 24; break;
    case TestAudioFormat::wav32: sfFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_32; bits = 32; break;
    case TestAudioFormat::wavFloat: sfFormat = SF_FORMAT_WAV | SF_FORMAT_FLOAT; bits = 0; break;
    case TestAudioFormat::flac16: sfFormat = SF_FORMAT_FLAC | SF_FORMAT_PCM_16; break;
    case TestAudioFormat::flac24: sfFormat = SF_FORMAT_FLAC | SF_FORMAT_PCM_24; bits = 24; break;
    case TestAudioFormat::aiff16: sfFormat = SF_FORMAT_AIFF | SF_FORMAT_PCM_16; break;
    default: throw std::logic_error("not a libsndfile format");
    }
    SF_INFO info{};
    info.samplerate = signal.sampleRate;
    info.channels = signal.channelCount();
    info.format = sfFormat;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    check(handle != nullptr, "cannot write " + file.string() + ": " + sf_strerror(nullptr));
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> owner(handle, sf_close);
    sf_command(handle, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    // Integers are written ourselves so that the stored values are known exactly.
    const std::size_t frames = signal.frameCount();
    const std::size_t channels = static_cast<std::size_t>(signal.channelCount());
    constexpr std::size_t block = 4096;
    std::vector<float> floats(block * channels);
    std::vector<int> ints(block * channels);
    for (std::size_t start = 0; start < frames; start += block) {
        const std::size_t n = std::min(block, frames - start);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t c = 0; c < channels; ++c) {
                const float s = signal.channels[c][start + i];
                if (bits == 0)
                    floats[i * channels + c] = s;
                else
                    ints[i * channels + c] = bits == 32 ? toInt(s, 32) : toInt(s, bits) * (1 << (32 - bits));
            }
        const sf_count_t written = bits == 0
            ? sf_writef_float(handle, floats.data(), static_cast<sf_count_t>(n))
            : sf_writef_int(handle, ints.data(), static_cast<sf_count_t>(n));
        check(written == static_cast<sf_count_t>(n), "short write to " + file.string());
    }
}

void sendFrame(AVCodecContext* codec, AVFormatContext* format, AVStream* stream, const AVFrame* frame)
{
    checkAv(avcodec_send_frame(codec, frame), "encode");
    const PacketPtr packet(av_packet_alloc());
    for (;;) {
        const int result = avcodec_receive_packet(codec, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        checkAv(result, "encode");
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        checkAv(av_interleaved_write_frame(format, packet.get()), "write packet");
    }
}

void encodeWithFfmpeg(const fs::path& file, const TestSignal& signal, const char* encoderName, int bitRate,
    Mp3Options mp3 = {})
{
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    check(encoder != nullptr, std::string("no encoder ") + encoderName);

    AVFormatContext* rawFormat = nullptr;
    checkAv(avformat_alloc_output_context2(&rawFormat, nullptr, nullptr, file.c_str()), "output format");
    const OutputFormatContextPtr format(rawFormat);
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    check(stream != nullptr, "new stream");

    const CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = signal.sampleRate;
    codec->bit_rate = bitRate;
    if (mp3.variableBitRate) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = FF_QP2LAMBDA * 2;
    }
    codec->time_base = AVRational{1, signal.sampleRate};
    av_channel_layout_default(&codec->ch_layout, signal.channelCount());
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    checkAv(avcodec_open2(codec.get(), encoder, nullptr), "open encoder");
    checkAv(avcodec_parameters_from_context(stream->codecpar, codec.get()), "stream parameters");
    stream->time_base = codec->time_base;

    checkAv(avio_open(&format->pb, file.c_str(), AVIO_FLAG_WRITE), "open " + file.string());
    AVDictionary* options = nullptr;
    // MP4 keeps the trimmed length in movie time units: in samples it is exact.
    if (std::string(format->oformat->name) != "mp3")
        av_dict_set_int(&options, "movie_timescale", signal.sampleRate, 0);
    else if (!mp3.xingFrame)
        av_dict_set_int(&options, "write_xing", 0, 0);
    const int headerResult = avformat_write_header(format.get(), &options);
    av_dict_free(&options);
    checkAv(headerResult, "write header");

    const int frameSize = codec->frame_size > 0 ? codec->frame_size : 1024;
    const FramePtr frame(av_frame_alloc());
    const std::size_t total = signal.frameCount();
    for (std::size_t start = 0; start < total; start += static_cast<std::size_t>(frameSize)) {
        const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(frameSize), total - start));
        av_frame_unref(frame.get());
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->nb_samples = n;
        frame->sample_rate = signal.sampleRate;
        checkAv(av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout), "layout");
        checkAv(av_frame_get_buffer(frame.get(), 0), "frame buffer");
        for (int c = 0; c < signal.channelCount(); ++c)
            std::copy_n(signal.channels[static_cast<std::size_t>(c)].data() + start, n,
                reinterpret_cast<float*>(frame->extended_data[c]));
        frame->pts = static_cast<std::int64_t>(start);
        sendFrame(codec.get(), format.get(), stream, frame.get());
    }
    sendFrame(codec.get(), format.get(), stream, nullptr);
    checkAv(av_write_trailer(format.get()), "write trailer");
}

} // namespace

void writeMp3(const fs::path& file, const TestSignal& signal, Mp3Options options, int bitRate)
{
    encodeWithFfmpeg(file, signal, "libmp3lame", bitRate, options);
}

void writeWavPackFloat(const fs::path& file, const TestSignal& signal)
{
    encodeWithFfmpeg(file, signal, "wavpack", 0);
}

TestSignal makeSilenceFrames(std::size_t frames, int sampleRate, int channelCount)
{
    TestSignal signal;
    signal.sampleRate = sampleRate;
    signal.channels.assign(static_cast<std::size_t>(channelCount), std::vector<float>(frames, 0.0f));
    return signal;
}

TestSignal makeSilence(double seconds, int sampleRate, int channelCount)
{
    return makeSilenceFrames(static_cast<std::size_t>(std::llround(seconds * sampleRate)), sampleRate, channelCount);
}

void addSine(TestSignal& signal, double frequency, double amplitude, double start, double duration, int channel)
{
    const std::int64_t total = static_cast<std::int64_t>(signal.frameCount());
    const std::int64_t first = std::clamp<std::int64_t>(frameAt(signal, start), 0, total);
    const std::int64_t last = std::isinf(duration) ? total
                                                    : std::clamp<std::int64_t>(frameAt(signal, start + duration), 0, total);
    const double step = 2.0 * std::numbers::pi * frequency / signal.sampleRate;
    forChannels(signal, channel, [&](std::vector<float>& samples) {
        for (std::int64_t i = first; i < last; ++i)
            samples[static_cast<std::size_t>(i)] += static_cast<float>(amplitude * std::sin(step * static_cast<double>(i - first)));
    });
}

void addClick(TestSignal& signal, double time, double amplitude, int channel)
{
    const std::int64_t at = frameAt(signal, time);
    const int length = std::max(4, signal.sampleRate / 4000);
    forChannels(signal, channel, [&](std::vector<float>& samples) {
        for (int i = 0; i < length; ++i) {
            const std::int64_t index = at + i;
            if (index < 0 || index >= static_cast<std::int64_t>(samples.size()))
                continue;
            const double sign = (i / 2) % 2 == 0 ? 1.0 : -1.0;
            samples[static_cast<std::size_t>(index)] += static_cast<float>(sign * amplitude * (1.0 - double(i) / length));
        }
    });
}

void addClicks(TestSignal& signal, const std::vector<double>& times, double amplitude, int channel)
{
    for (const double t : times)
        addClick(signal, t, amplitude, channel);
}

void addDrumHit(TestSignal& signal, double time, double amplitude, double frequency, double decaySeconds, int channel)
{
    const std::int64_t at = frameAt(signal, time);
    const std::int64_t length = static_cast<std::int64_t>(decaySeconds * 5.0 * signal.sampleRate);
    std::mt19937 noise(static_cast<std::uint32_t>(at) * 2654435761u);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> hit(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)));
    double phase = 0.0;
    for (std::size_t i = 0; i < hit.size(); ++i) {
        const double t = static_cast<double>(i) / signal.sampleRate;
        const double envelope = std::exp(-t / decaySeconds);
        // The pitch falls from twice the frequency, as a struck membrane does.
        phase += 2.0 * std::numbers::pi * frequency * (1.0 + std::exp(-t / 0.02)) / signal.sampleRate;
        const double burst = std::exp(-t / 0.01) * uniform(noise);
        hit[i] = amplitude * envelope * (0.75 * std::sin(phase) + 0.25 * burst);
    }
    forChannels(signal, channel, [&](std::vector<float>& samples) {
        for (std::size_t i = 0; i < hit.size(); ++i) {
            const std::int64_t index = at + static_cast<std::int64_t>(i);
            if (index >= 0 && index < static_cast<std::int64_t>(samples.size()))
                samples[static_cast<std::size_t>(index)] += static_cast<float>(hit[i]);
        }
    });
}

void addDrumHits(TestSignal& signal, const std::vector<double>& times, double amplitude, int channel)
{
    for (const double t : times)
        addDrumHit(signal, t, amplitude, 80.0, 0.12, channel);
}

void addNoise(TestSignal& signal, double amplitude, std::uint32_t seed, double start, double duration, int channel)
{
    const std::int64_t total = static_cast<std::int64_t>(signal.frameCount());
    const std::int64_t first = std::clamp<std::int64_t>(frameAt(signal, start), 0, total);
    const std::int64_t last = std::isinf(duration) ? total
                                                    : std::clamp<std::int64_t>(frameAt(signal, start + duration), 0, total);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    forChannels(signal, channel, [&](std::vector<float>& samples) {
        for (std::int64_t i = first; i < last; ++i)
            samples[static_cast<std::size_t>(i)] += static_cast<float>(uniform(generator));
    });
}

TestSignal makeSine(double frequency, double seconds, int sampleRate, int channelCount, double amplitude,
    bool distinctPerChannel)
{
    TestSignal signal = makeSilence(seconds, sampleRate, channelCount);
    for (int c = 0; c < channelCount; ++c)
        addSine(signal, distinctPerChannel ? frequency * (c + 1) : frequency, amplitude, 0.0, untilEnd, c);
    return signal;
}

const char* fileExtension(TestAudioFormat format)
{
    switch (format) {
    case TestAudioFormat::wav16:
    case TestAudioFormat::wav24:
    case TestAudioFormat::wav32:
    case TestAudioFormat::wavFloat: return "wav";
    case TestAudioFormat::flac16:
    case TestAudioFormat::flac24: return "flac";
    case TestAudioFormat::aiff16: return "aiff";
    case TestAudioFormat::mp3: return "mp3";
    case TestAudioFormat::m4a: return "m4a";
    }
    return "bin";
}

bool isLossless(TestAudioFormat format)
{
    return format != TestAudioFormat::mp3 && format != TestAudioFormat::m4a;
}

void writeAudioFile(const fs::path& file, const TestSignal& signal, TestAudioFormat format, int bitRate)
{
    check(signal.channelCount() > 0, "signal without channels");
    if (format == TestAudioFormat::mp3)
        encodeWithFfmpeg(file, signal, "libmp3lame", bitRate);
    else if (format == TestAudioFormat::m4a)
        encodeWithFfmpeg(file, signal, "aac", bitRate);
    else
        writeWithSndfile(file, signal, format);
}

fs::path writeAudioFile(const fs::path& folder, const std::string& name, const TestSignal& signal,
    TestAudioFormat format, int bitRate)
{
    fs::path file = folder / (name + "." + fileExtension(format));
    writeAudioFile(file, signal, format, bitRate);
    return file;
}

float quantizedSample(float sample, TestAudioFormat format)
{
    switch (format) {
    case TestAudioFormat::wav16:
    case TestAudioFormat::flac16:
    case TestAudioFormat::aiff16: return static_cast<float>(toInt(sample, 16)) * (1.0f / 32768.0f);
    case TestAudioFormat::wav24:
    case TestAudioFormat::flac24:
        // FFmpeg widens 24-bit samples to 32 bits before scaling.
        return static_cast<float>(toInt(sample, 24) * 256) * (1.0f / 2147483648.0f);
    case TestAudioFormat::wav32: return static_cast<float>(toInt(sample, 32)) * (1.0f / 2147483648.0f);
    default: return sample;
    }
}

void truncateFile(const fs::path& file, std::uintmax_t keepBytes)
{
    fs::resize_file(file, std::min(keepBytes, fs::file_size(file)));
}

void writeTextFile(const fs::path& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    check(static_cast<bool>(out), "cannot write " + file.string());
}

void writeRandomBytes(const fs::path& file, std::size_t count, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = static_cast<char>(generator() & 0xff);
    writeTextFile(file, bytes);
}

void setWavDataChunkSize(const fs::path& file, std::uint32_t dataBytes)
{
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(4096, '\0');
    io.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(io.gcount()));
    io.clear();
    const std::size_t at = head.find("data");
    check(at != std::string::npos && at + 8 <= head.size(), "no data chunk in " + file.string());
    const auto writeLe32 = [&](std::size_t offset, std::uint32_t value) {
        const char bytes[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
            static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
        io.seekp(static_cast<std::streamoff>(offset));
        io.write(bytes, 4);
    };
    writeLe32(at + 4, dataBytes);
    writeLe32(4, static_cast<std::uint32_t>(std::min<std::uint64_t>(0xffffffffu, std::uint64_t(dataBytes) + at + 4)));
    check(static_cast<bool>(io), "cannot patch " + file.string());
}

void writeVideoWithoutAudio(const fs::path& file, double seconds)
{
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    check(encoder != nullptr, "no MPEG-4 encoder");
    AVFormatContext* rawFormat = nullptr;
    checkAv(avformat_alloc_output_context2(&rawFormat, nullptr, nullptr, file.c_str()), "output format");
    const OutputFormatContextPtr format(rawFormat);
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    check(stream != nullptr, "new stream");
    const CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->width = 64;
    codec->height = 48;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = AVRational{1, 10};
    codec->framerate = AVRational{10, 1};
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    checkAv(avcodec_open2(codec.get(), encoder, nullptr), "open encoder");
    checkAv(avcodec_parameters_from_context(stream->codecpar, codec.get()), "stream parameters");
    stream->time_base = codec->time_base;
    checkAv(avio_open(&format->pb, file.c_str(), AVIO_FLAG_WRITE), "open " + file.string());
    checkAv(avformat_write_header(format.get(), nullptr), "write header");
    const FramePtr frame(av_frame_alloc());
    const int count = std::max(1, static_cast<int>(seconds * 10));
    for (int i = 0; i < count; ++i) {
        av_frame_unref(frame.get());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = 64;
        frame->height = 48;
        checkAv(av_frame_get_buffer(frame.get(), 0), "frame buffer");
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? 48 : 24;
            for (int y = 0; y < rows; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane], frame->linesize[plane], 128);
        }
        frame->pts = i;
        sendFrame(codec.get(), format.get(), stream, frame.get());
    }
    sendFrame(codec.get(), format.get(), stream, nullptr);
    checkAv(av_write_trailer(format.get()), "write trailer");
}

AudioTestFolder::AudioTestFolder(const std::string& prefix)
{
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    m_path = pattern;
}

AudioTestFolder::~AudioTestFolder()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::int64_t firstFrameAbove(const std::vector<float>& samples, float threshold, std::size_t from)
{
    for (std::size_t i = from; i < samples.size(); ++i)
        if (std::fabs(samples[i]) >= threshold)
            return static_cast<std::int64_t>(i);
    return -1;
}

double estimateFrequency(const std::vector<float>& samples, int sampleRate, std::size_t from, std::size_t count)
{
    const std::size_t end = std::min(samples.size(), from + count);
    std::size_t firstCrossing = 0;
    std::size_t lastCrossing = 0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < end; ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (crossings == 0)
                firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) * static_cast<double>(sampleRate) / static_cast<double>(lastCrossing - firstCrossing);
}

} // namespace fotivela::test
