#include "platform/audio_decoder.h"

#include "platform/ffmpeg_file_input.h"
#include "platform/ffmpeg_handles.h"
#include "platform/log.h"
#include "platform/regular_file.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>

namespace fotivela {
namespace {

std::string userMessage(AudioDecoderError::Kind kind)
{
    switch (kind) {
    case AudioDecoderError::Kind::cannotOpen: return "No se pudo abrir el archivo de audio.";
    case AudioDecoderError::Kind::noAudioStream: return "El archivo no contiene audio.";
    case AudioDecoderError::Kind::unsupportedCodec: return "El formato de audio del archivo no es compatible.";
    case AudioDecoderError::Kind::undecodable: return "No se pudo decodificar el audio del archivo.";
    case AudioDecoderError::Kind::readFailed: return "No se pudo leer el archivo de audio.";
    }
    return "No se pudo leer el archivo de audio.";
}

bool isPcm(AVCodecID id)
{
    return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

// Samples decoded from before a seek target, so that codecs whose frames depend
// on earlier ones (MP3's bit reservoir, AAC's overlapping transforms) have settled.
constexpr std::int64_t lossyPrerollFrames = 8192;
constexpr int maxConsecutiveErrors = 256;
// No real recording goes beyond these; larger header values are damage or an attack,
// and would overflow the frame arithmetic further on.
constexpr int maxSampleRate = 768000;
constexpr int maxChannelCount = 64;

// A float file may hold NaN or infinities where it was damaged: no sound is meant
// there, and every reader of the song (analysis, separation, playback, export) gets silence.
void silenceNonFinite(float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(samples[i]))
            samples[i] = 0.0f;
}

bool isSaneStream(int sampleRate, int channelCount)
{
    return sampleRate > 0 && sampleRate <= maxSampleRate && channelCount > 0 && channelCount <= maxChannelCount;
}

std::uint32_t bigEndian32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Samples of an MP3 once encoder delay and padding are removed, from the Xing/Info
// frame and its LAME extension; none when the file has no such header.
std::optional<std::int64_t> mp3LengthFromLameTag(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> head(10);
    if (!in.read(reinterpret_cast<char*>(head.data()), 10))
        return std::nullopt;
    std::uint64_t offset = 0;
    if (head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
        const std::uint64_t size = (std::uint64_t(head[6] & 0x7f) << 21) | (std::uint64_t(head[7] & 0x7f) << 14)
            | (std::uint64_t(head[8] & 0x7f) << 7) | std::uint64_t(head[9] & 0x7f);
        offset = 10 + size + ((head[5] & 0x10) ? 10 : 0);
    }
    std::vector<unsigned char> frame(512);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size())))
        return std::nullopt;
    if (frame[0] != 0xff || (frame[1] & 0xe0) != 0xe0 || ((frame[1] >> 1) & 3) != 1) // layer III only
        return std::nullopt;
    const bool mpeg1 = ((frame[1] >> 3) & 3) == 3;
    const bool mono = ((frame[3] >> 6) & 3) == 3;
    const std::size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const unsigned char* tag = frame.data() + 4 + sideInfo;
    if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0)
        return std::nullopt;
    const std::uint32_t flags = bigEndian32(tag + 4);
    const unsigned char* p = tag + 8;
    if ((flags & 1) == 0)
        return std::nullopt;
    const std::int64_t frames = bigEndian32(p);
    p += 4;
    if (flags & 2)
        p += 4;
    if (flags & 4)
        p += 100;
    if (flags & 8)
        p += 4;
    if (p + 24 > frame.data() + frame.size())
        return std::nullopt;
    if (std::memcmp(p, "LAME", 4) != 0 && std::memcmp(p, "Lavf", 4) != 0 && std::memcmp(p, "Lavc", 4) != 0)
        return std::nullopt;
    const std::int64_t delay = (std::int64_t(p[21]) << 4) | (p[22] >> 4);
    const std::int64_t padding = (std::int64_t(p[22] & 0x0f) << 8) | p[23];
    const std::int64_t samplesPerFrame = mpeg1 ? 1152 : 576;
    const std::int64_t length = frames * samplesPerFrame - delay - padding;
    return length > 0 ? std::optional(length) : std::nullopt;
}

} // namespace

AudioDecoderError::AudioDecoderError(Kind kind, std::string detail)
    : Error(userMessage(kind)), m_kind(kind), m_detail(std::move(detail))
{
}

struct AudioDecoder::State {
    std::filesystem::path file;
    // The song as checked when it was opened: FFmpeg reads this descriptor, never the path again.
    std::shared_ptr<const RegularFile> source;
    FileInputPtr format;
    CodecContextPtr codec;
    AVStream* stream = nullptr;
    PacketPtr packet{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    SwrContextPtr swr;
    std::vector<std::vector<float>> converted; // swr output before it joins `pending`
    int swrFormat = -1;
    int swrChannels = 0;
    AudioStreamInfo info;
    std::int64_t startTime = 0; // stream time base
    std::int64_t endFrame = std::numeric_limits<std::int64_t>::max();

    // Decoded samples not yet handed out; pending[c][pendingOffset] is frame `position`.
    std::vector<std::vector<float>> pending;
    std::size_t pendingOffset = 0;
    std::int64_t position = 0;
    std::int64_t nextDecodedFrame = 0; // file frame of the next sample the codec gives
    std::int64_t dropUntil = 0;        // samples before this frame are discarded
    bool needTimestamp = false;        // after a seek, the next frame's timestamp places us
    bool needRewind = false;           // ... and without one we decode from the start instead
    bool demuxEnded = false;
    bool flushSent = false;
    bool decoderEnded = false;
    bool deliveredSinceSeek = false; // a read reaching the end then knows where the end is

    // At most ten seconds of filled-in silence, and never more than 16 MB of it,
    // whatever rate and channel count the header gives.
    std::int64_t maxGapFrames() const
    {
        return std::min<std::int64_t>(std::int64_t{info.sampleRate} * 10, (std::int64_t{1} << 22) / std::max(info.channelCount, 1));
    }

    std::size_t pendingFrames() const { return pending.empty() ? 0 : pending.front().size() - pendingOffset; }

    [[noreturn]] void fail(AudioDecoderError::Kind kind, const std::string& what, int code = 0) const
    {
        std::string detail = what + " " + file.string();
        if (code < 0)
            detail += ": " + ffmpegErrorText(code);
        throw AudioDecoderError(kind, detail);
    }

    void open()
    {
        int result = 0;
        format = openFileInput(source, file, result);
        if (!format)
            fail(AudioDecoderError::Kind::cannotOpen, "open", result);
        result = avformat_find_stream_info(format.get(), nullptr);
        if (result < 0)
            fail(AudioDecoderError::Kind::cannotOpen, "probe", result);

        const AVCodec* decoder = nullptr;
        const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (index == AVERROR_STREAM_NOT_FOUND)
            fail(AudioDecoderError::Kind::noAudioStream, "no audio stream in");
        if (index < 0 || decoder == nullptr)
            fail(AudioDecoderError::Kind::unsupportedCodec, "no decoder for", index);
        stream = format->streams[index];
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (static_cast<int>(i) != index)
                format->streams[i]->discard = AVDISCARD_ALL;

        codec.reset(avcodec_alloc_context3(decoder));
        if (!codec)
            fail(AudioDecoderError::Kind::readFailed, "codec context for");
        result = avcodec_parameters_to_context(codec.get(), stream->codecpar);
        if (result < 0)
            fail(AudioDecoderError::Kind::unsupportedCodec, "codec parameters of", result);
        // Encoder delay is cut by the decoder only when it knows the packets' time base.
        codec->pkt_timebase = stream->time_base;
        codec->thread_count = 1;
        result = avcodec_open2(codec.get(), decoder, nullptr);
        if (result < 0)
            fail(AudioDecoderError::Kind::unsupportedCodec, "open decoder for", result);

        startTime = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        info.formatName = format->iformat->name;
        info.codecName = decoder->name;
        info.channelCount = stream->codecpar->ch_layout.nb_channels;
        info.sampleRate = stream->codecpar->sample_rate;
        if ((info.sampleRate != 0 || info.channelCount != 0) && !isSaneStream(info.sampleRate, info.channelCount))
            fail(AudioDecoderError::Kind::unsupportedCodec, "absurd rate or channel count in");
        const AVCodecID id = stream->codecpar->codec_id;
        info.isLinearPcm = isPcm(id);
        info.bitsPerSample = stream->codecpar->bits_per_raw_sample > 0 ? stream->codecpar->bits_per_raw_sample
                                                                       : (info.isLinearPcm ? av_get_bits_per_sample(id) : 0);
        info.isFloat = id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F32BE || id == AV_CODEC_ID_PCM_F64LE
            || id == AV_CODEC_ID_PCM_F64BE || id == AV_CODEC_ID_PCM_F16LE || id == AV_CODEC_ID_PCM_F24LE;

        // The first packet must decode: that is what tells a song from a file that only looks like one.
        if (!decodeMore())
            fail(AudioDecoderError::Kind::undecodable, "nothing decodes in");
        if (!isSaneStream(info.sampleRate, info.channelCount))
            fail(AudioDecoderError::Kind::undecodable, "no usable channels or rate in");
        measureLength();
    }

    void measureLength()
    {
        const AVRational perFrame{1, info.sampleRate};
        bool exact = false;
        std::int64_t frames = 0;
        if (stream->codecpar->codec_id == AV_CODEC_ID_MP3) {
            // FFmpeg trims by the LAME tag but reports the untrimmed length.
            if (const auto length = mp3LengthFromLameTag(source->reopenPath()); length && *length > 0) {
                frames = *length;
                exact = true;
            } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
                frames = av_rescale_q(format->duration, AV_TIME_BASE_Q, perFrame);
            }
        } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            frames = av_rescale_q(stream->duration, stream->time_base, perFrame);
            const AVCodecID id = stream->codecpar->codec_id;
            exact = isPcm(id) || id == AV_CODEC_ID_FLAC || format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
        } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
            frames = av_rescale_q(format->duration, AV_TIME_BASE_Q, perFrame);
        }
        info.frameCount = std::max<std::int64_t>(frames, 0);
        info.durationSeconds = static_cast<double>(info.frameCount) / info.sampleRate;
        info.isLengthExact = exact && frames > 0;
        // An MP4's sample tables and edit list define where the audio ends (the codec's
        // padding lies beyond). An MP3's frame count is only a claim in its first frame:
        // its audio is decoded to the real end (a cut download, files joined end to end).
        if (info.isLengthExact && stream->codecpar->codec_id != AV_CODEC_ID_MP3)
            endFrame = info.frameCount;
    }

    // Converts one decoded frame to planar float and appends what lies at or after dropUntil.
    void appendFrame()
    {
        const int count = frame->nb_samples;
        if (count <= 0)
            return;
        // A stream may change its parameters midway; the output keeps the ones it opened with.
        if (frame->sample_rate > maxSampleRate || frame->ch_layout.nb_channels > maxChannelCount)
            return;
        if (needTimestamp) {
            needTimestamp = false;
            const std::int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) {
                needRewind = true; // no idea where the seek landed
                return;
            }
            nextDecodedFrame = av_rescale_q(ts - startTime, stream->time_base, AVRational{1, info.sampleRate});
        }
        const std::int64_t first = nextDecodedFrame;
        nextDecodedFrame += count;
        if (first + count <= dropUntil)
            return;
        const int skip = static_cast<int>(std::max<std::int64_t>(0, dropUntil - first));

        const int channels = info.channelCount;
        if (pending.size() != static_cast<std::size_t>(channels))
            pending.assign(static_cast<std::size_t>(channels), {});
        if (pendingOffset > 0 && pendingOffset == pending.front().size()) {
            for (auto& samples : pending)
                samples.clear();
            pendingOffset = 0;
        }
        // A seek that lands late leaves a gap; silence keeps every sample at its own frame.
        const std::int64_t expected = position + static_cast<std::int64_t>(pendingFrames());
        const std::int64_t gap = std::clamp<std::int64_t>(first + skip - expected, 0, maxGapFrames());
        const std::size_t base = pending.front().size();
        const std::size_t kept = static_cast<std::size_t>(count - skip);
        for (auto& samples : pending)
            samples.resize(base + static_cast<std::size_t>(gap) + kept, 0.0f);

        const int frameChannels = frame->ch_layout.nb_channels;
        const int copied = std::min(channels, frameChannels);
        if (frame->format == AV_SAMPLE_FMT_FLTP) {
            for (int c = 0; c < copied; ++c) {
                float* into = pending[static_cast<std::size_t>(c)].data() + base + gap;
                std::memcpy(into, reinterpret_cast<const float*>(frame->extended_data[c]) + skip, kept * sizeof(float));
                silenceNonFinite(into, kept);
            }
            return;
        }
        if (!convertWithSwr(frameChannels))
            return; // leaves silence: a frame we cannot convert must not stop the song
        converted.resize(static_cast<std::size_t>(frameChannels));
        std::vector<std::uint8_t*> out(static_cast<std::size_t>(frameChannels));
        for (std::size_t c = 0; c < converted.size(); ++c) {
            converted[c].resize(static_cast<std::size_t>(count));
            out[c] = reinterpret_cast<std::uint8_t*>(converted[c].data());
        }
        const int produced = swr_convert(swr.get(), out.data(), count,
            const_cast<const std::uint8_t**>(frame->extended_data), count);
        const std::size_t usable = produced > skip ? std::min(kept, static_cast<std::size_t>(produced - skip)) : 0;
        for (std::size_t c = 0; c < static_cast<std::size_t>(copied); ++c) {
            float* into = pending[c].data() + base + gap;
            std::copy_n(converted[c].begin() + skip, usable, into);
            silenceNonFinite(into, usable);
        }
    }

    bool convertWithSwr(int frameChannels)
    {
        if (swr && swrFormat == frame->format && swrChannels == frameChannels)
            return true;
        swr.reset();
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, frameChannels);
        SwrContext* raw = nullptr;
        // Same rate and layout on both sides: only the sample format changes.
        int result = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, frame->sample_rate > 0 ? frame->sample_rate : info.sampleRate,
            &layout, static_cast<AVSampleFormat>(frame->format), frame->sample_rate > 0 ? frame->sample_rate : info.sampleRate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (result >= 0)
            result = swr_init(raw);
        if (result < 0) {
            swr_free(&raw);
            logLine("Fotivela audio: cannot convert samples of " + file.string() + ": " + ffmpegErrorText(result));
            return false;
        }
        swr.reset(raw);
        swrFormat = frame->format;
        swrChannels = frameChannels;
        return true;
    }

    // Decodes until at least one more frame is appended or the stream ends.
    bool decodeMore()
    {
        int errors = 0;
        while (!decoderEnded) {
            int result = avcodec_receive_frame(codec.get(), frame.get());
            if (result == 0) {
                if (info.channelCount <= 0)
                    info.channelCount = frame->ch_layout.nb_channels;
                if (info.sampleRate <= 0)
                    info.sampleRate = frame->sample_rate;
                if (info.channelCount > 0 && info.sampleRate > 0)
                    appendFrame();
                av_frame_unref(frame.get());
                return true;
            }
            if (result == AVERROR_EOF) {
                decoderEnded = true;
                break;
            }
            if (result != AVERROR(EAGAIN)) {
                if (++errors > maxConsecutiveErrors)
                    break;
                continue;
            }
            if (demuxEnded) {
                if (flushSent) {
                    decoderEnded = true;
                    break;
                }
                flushSent = true;
                avcodec_send_packet(codec.get(), nullptr);
                continue;
            }
            result = av_read_frame(format.get(), packet.get());
            if (result < 0) {
                demuxEnded = true;
                continue;
            }
            if (packet->stream_index == stream->index) {
                result = avcodec_send_packet(codec.get(), packet.get());
                // A damaged packet is dropped; too many in a row means the rest is not audio.
                if (result < 0 && result != AVERROR(EAGAIN) && ++errors > maxConsecutiveErrors)
                    demuxEnded = true;
            }
            av_packet_unref(packet.get());
        }
        return false;
    }

    void clearPending()
    {
        for (auto& samples : pending)
            samples.clear();
        pendingOffset = 0;
    }

    void seekToFrame(std::int64_t target)
    {
        target = std::max<std::int64_t>(target, 0);
        clearPending();
        deliveredSinceSeek = false;
        position = target;
        dropUntil = target;
        if (target >= endFrame) {
            decoderEnded = true;
            return;
        }
        const bool lossy = !isPcm(stream->codecpar->codec_id) && stream->codecpar->codec_id != AV_CODEC_ID_FLAC;
        const std::int64_t from = std::max<std::int64_t>(0, target - (lossy ? lossyPrerollFrames : 0));
        const std::int64_t ts = startTime + av_rescale_q(from, AVRational{1, info.sampleRate}, stream->time_base);
        if (av_seek_frame(format.get(), stream->index, ts, AVSEEK_FLAG_BACKWARD) < 0) {
            logLine("Fotivela audio: cannot seek in " + file.string() + ", decoding from the start");
            rewindToStart();
            return;
        }
        avcodec_flush_buffers(codec.get());
        demuxEnded = false;
        flushSent = false;
        decoderEnded = false;
        needTimestamp = true;
    }

    // Decoding from the very beginning always works, unless the file has gone:
    // then the audio simply ends here.
    void rewindToStart()
    {
        needRewind = false;
        try {
            State fresh;
            fresh.file = file;
            fresh.source = source;
            fresh.position = dropUntil;
            fresh.dropUntil = dropUntil;
            fresh.open();
            fresh.info = info;
            fresh.endFrame = endFrame;
            *this = std::move(fresh);
        } catch (const AudioDecoderError& error) {
            logLine("Fotivela audio: " + error.detail());
            clearPending();
            demuxEnded = flushSent = decoderEnded = true;
        }
    }

    std::int64_t read(float* const* channels, std::int64_t maxFrames)
    {
        std::int64_t done = 0;
        maxFrames = std::min(maxFrames, std::max<std::int64_t>(0, endFrame - position));
        while (done < maxFrames) {
            if (pendingFrames() == 0) {
                const bool more = decodeMore();
                if (needRewind) {
                    rewindToStart();
                    continue;
                }
                if (!more && pendingFrames() == 0)
                    break;
                continue;
            }
            const std::size_t n = std::min<std::size_t>(pendingFrames(), static_cast<std::size_t>(maxFrames - done));
            for (std::size_t c = 0; c < pending.size(); ++c)
                std::memcpy(channels[c] + done, pending[c].data() + pendingOffset, n * sizeof(float));
            pendingOffset += n;
            done += static_cast<std::int64_t>(n);
            position += static_cast<std::int64_t>(n);
        }
        deliveredSinceSeek = deliveredSinceSeek || done > 0;
        if (done < maxFrames && deliveredSinceSeek && position != info.frameCount && decoderEnded && pendingFrames() == 0) {
            // The file ends elsewhere than its header said: from now on the length is what was there.
            info.frameCount = position;
            info.durationSeconds = static_cast<double>(position) / info.sampleRate;
            info.isLengthExact = true;
            endFrame = position;
        }
        return done;
    }
};

AudioDecoder::AudioDecoder(const std::filesystem::path& file) : m_state(std::make_unique<State>())
{
    m_state->file = file;
    std::optional<RegularFile> opened = RegularFile::open(file);
    if (!opened)
        m_state->fail(AudioDecoderError::Kind::cannotOpen, "not a regular file:");
    m_state->source = std::make_shared<const RegularFile>(std::move(*opened));
    m_state->open();
}

AudioDecoder::AudioDecoder(std::shared_ptr<const RegularFile> opened, const std::filesystem::path& file)
    : m_state(std::make_unique<State>())
{
    m_state->file = file;
    if (!opened)
        m_state->fail(AudioDecoderError::Kind::cannotOpen, "not a regular file:");
    m_state->source = std::move(opened);
    m_state->open();
}

AudioDecoder::~AudioDecoder() = default;
AudioDecoder::AudioDecoder(AudioDecoder&&) noexcept = default;
AudioDecoder& AudioDecoder::operator=(AudioDecoder&&) noexcept = default;

const AudioStreamInfo& AudioDecoder::info() const { return m_state->info; }
const std::filesystem::path& AudioDecoder::file() const { return m_state->file; }
std::int64_t AudioDecoder::position() const { return m_state->position; }

std::int64_t AudioDecoder::read(float* const* channels, std::int64_t maxFrames)
{
    return maxFrames > 0 ? m_state->read(channels, maxFrames) : 0;
}

std::int64_t AudioDecoder::read(std::vector<std::vector<float>>& channels, std::int64_t maxFrames)
{
    maxFrames = std::max<std::int64_t>(maxFrames, 0);
    channels.resize(static_cast<std::size_t>(m_state->info.channelCount));
    std::vector<float*> pointers;
    for (auto& samples : channels) {
        samples.resize(static_cast<std::size_t>(maxFrames));
        pointers.push_back(samples.data());
    }
    const std::int64_t n = read(pointers.data(), maxFrames);
    for (auto& samples : channels)
        samples.resize(static_cast<std::size_t>(n));
    return n;
}

void AudioDecoder::seekToFrame(std::int64_t frame) { m_state->seekToFrame(frame); }

void AudioDecoder::seek(double seconds)
{
    if (!(seconds > 0.0)) // also NaN
        seconds = 0.0;
    const double frame = seconds * m_state->info.sampleRate;
    seekToFrame(frame >= 9e18 ? std::numeric_limits<std::int64_t>::max() / 2 : static_cast<std::int64_t>(std::llround(frame)));
}

std::vector<std::vector<float>> AudioDecoder::readAll()
{
    const std::size_t channelCount = static_cast<std::size_t>(m_state->info.channelCount);
    std::vector<std::vector<float>> all(channelCount);
    constexpr std::int64_t block = 65536;
    std::vector<std::vector<float>> chunk;
    while (read(chunk, block) > 0)
        for (std::size_t c = 0; c < channelCount; ++c)
            all[c].insert(all[c].end(), chunk[c].begin(), chunk[c].end());
    return all;
}

std::optional<std::int64_t> decodedFrameCount(const std::filesystem::path& file, std::stop_token stop)
{
    AudioDecoder decoder(file);
    std::vector<std::vector<float>> block;
    std::int64_t total = 0;
    while (!stop.stop_requested()) {
        const std::int64_t n = decoder.read(block, 65536);
        if (n <= 0)
            return total;
        total += n;
    }
    return std::nullopt;
}

} // namespace fotivela
