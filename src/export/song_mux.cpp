// The last step of an export with sound: the encoded video copied unchanged
// and the song decoded, faded and encoded as AAC into one MP4.

#include "export/song_mux.h"

#include "analysis/audio_fade_envelope.h"
#include "export/export_file_moves.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "platform/audio_decoder.h"
#include "platform/duskmere_storage.h"
#include "platform/ffmpeg_file_input.h"
#include "platform/ffmpeg_log.h"
#include "platform/regular_file.h"
#include "platform/uuid.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace fotivela {

namespace {

struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

[[noreturn]] void failMux(const std::string& detail)
{
    throw VideoExporterError::audioMuxFailed(detail);
}

void check(int result, const char* fixedDetail = nullptr)
{
    if (result < 0)
        failMux(fixedDetail ? std::string(fixedDetail) : ffmpegErrorDetail(result));
}

// The song, opened as every other reading of it is: whatever is at the path now must be
// a regular file, so a FIFO put there while the frames were drawn is refused at once
// instead of holding the export (and its cancel) in open() for ever.
FileInputPtr openSong(const std::filesystem::path& song)
{
    std::optional<RegularFile> file = RegularFile::open(song);
    if (!file)
        failMux("No se encontro una pista de audio valida.");
    int result = 0;
    FileInputPtr input = openFileInput(std::make_shared<const RegularFile>(std::move(*file)), song, result);
    if (!input || avformat_find_stream_info(input.get(), nullptr) < 0)
        failMux("No se encontro una pista de audio valida.");
    return input;
}

double streamSeconds(const AVFormatContext* input, const AVStream* stream)
{
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
        return static_cast<double>(input->duration) / AV_TIME_BASE;
    return 0.0;
}

// The song's samples, resampled to the output format, faded and encoded;
// each packet, in the encoder's time base, goes to the sink.
class SongTrackWriter {
public:
    using PacketSink = std::function<void(AVPacket*)>;

    SongTrackWriter(const std::filesystem::path& song, AudioFadeMix fade, double end) : m_fade(fade)
    {
        try {
            m_decoder = std::make_unique<AudioDecoder>(song);
        } catch (const AudioDecoderError& error) {
            const bool noTrack = error.kind() == AudioDecoderError::Kind::cannotOpen ||
                                 error.kind() == AudioDecoderError::Kind::noAudioStream;
            failMux(noTrack ? "No se encontro una pista de audio valida." : "No se pudo leer la pista de audio original.");
        }
        const AudioStreamInfo& info = m_decoder->info();
        m_inputChannels = std::max(info.channelCount, 1);
        m_endFrame = static_cast<std::int64_t>(std::floor(std::max(end, 0.0) * muxAudioSampleRate));

        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (codec == nullptr)
            failMux("No se pudo escribir la pista de audio en el MP4.");
        m_codec.reset(avcodec_alloc_context3(codec));
        if (!m_codec)
            failMux("No se pudo escribir la pista de audio en el MP4.");
        AVCodecContext* context = m_codec.get();
        context->sample_rate = muxAudioSampleRate;
        av_channel_layout_default(&context->ch_layout, muxAudioChannelCount);
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        context->bit_rate = muxAudioBitRate;
        context->time_base = AVRational{1, muxAudioSampleRate};
        // MP4 keeps the decoder set-up in the track header.
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(context, codec, nullptr), "No se pudo escribir la pista de audio en el MP4.");

        // A mono song plays on both sides at full level: the one channel is given twice.
        AVChannelLayout inputLayout{};
        av_channel_layout_default(&inputLayout, m_inputChannels == 1 ? 2 : m_inputChannels);
        SwrContext* resampler = nullptr;
        const int made = swr_alloc_set_opts2(&resampler, &context->ch_layout, AV_SAMPLE_FMT_FLTP, muxAudioSampleRate,
                                             &inputLayout, AV_SAMPLE_FMT_FLTP, std::max(info.sampleRate, 1), 0, nullptr);
        av_channel_layout_uninit(&inputLayout);
        m_resampler.reset(resampler);
        if (made < 0 || swr_init(resampler) < 0)
            failMux("No se pudo leer la pista de audio original.");

        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, muxAudioChannelCount, 8192));
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_fifo || !m_frame || !m_packet)
            failMux("No se pudo escribir la pista de audio en el MP4.");
        m_input.assign(static_cast<std::size_t>(m_inputChannels), std::vector<float>(chunkFrames));
    }

    const AVCodecContext* codec() const { return m_codec.get(); }
    void setSink(PacketSink sink) { m_sink = std::move(sink); }

    // Encodes the song up to the given time of the video.
    void writeUntil(double seconds)
    {
        const double frames = std::ceil(std::max(seconds, 0.0) * muxAudioSampleRate);
        const std::int64_t target =
            frames >= static_cast<double>(m_endFrame) ? m_endFrame : static_cast<std::int64_t>(frames);
        while (m_encodedFrames < target) {
            const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
            if (av_audio_fifo_size(m_fifo.get()) < frameSize && !m_inputEnded) {
                decodeChunk();
                continue;
            }
            const int available = av_audio_fifo_size(m_fifo.get());
            const int take = static_cast<int>(std::min<std::int64_t>({frameSize, available, m_endFrame - m_encodedFrames}));
            if (take <= 0) {
                m_endFrame = m_encodedFrames; // the song ended before the video
                break;
            }
            encodeFromFifo(take);
        }
    }

    void finish()
    {
        writeUntil(std::numeric_limits<double>::infinity());
        check(avcodec_send_frame(m_codec.get(), nullptr));
        drain(true);
    }

private:
    static constexpr int chunkFrames = 4096;
    static constexpr float maxSampleMagnitude = 64.0f;

    void decodeChunk()
    {
        std::vector<float*> planes;
        for (auto& channel : m_input)
            planes.push_back(channel.data());
        const std::int64_t read = m_decoder->read(planes.data(), chunkFrames);
        // The decoder already silences NaN and infinities; values so far past full scale
        // that the encoder's transform overflows are kept to a bound no real mix reaches.
        for (std::size_t c = 0; read > 0 && c < planes.size(); ++c)
            std::transform(planes[c], planes[c] + read, planes[c],
                [](float sample) { return std::clamp(sample, -maxSampleMagnitude, maxSampleMagnitude); });
        std::vector<const std::uint8_t*> sources;
        for (int c = 0; c < std::max(m_inputChannels, 2); ++c)
            sources.push_back(reinterpret_cast<const std::uint8_t*>(planes[static_cast<std::size_t>(std::min(c, m_inputChannels - 1))]));
        if (read <= 0)
            m_inputEnded = true;
        const int capacity = swr_get_out_samples(m_resampler.get(), static_cast<int>(std::max<std::int64_t>(read, 0)));
        std::vector<float> left(static_cast<std::size_t>(std::max(capacity, 1)));
        std::vector<float> right(left.size());
        std::uint8_t* outputs[2] = {reinterpret_cast<std::uint8_t*>(left.data()), reinterpret_cast<std::uint8_t*>(right.data())};
        const int converted = read > 0 ? swr_convert(m_resampler.get(), outputs, capacity, sources.data(), static_cast<int>(read))
                                       : swr_convert(m_resampler.get(), outputs, capacity, nullptr, 0);
        check(converted, "No se pudo leer la pista de audio original.");
        if (converted == 0)
            return;
        for (int i = 0; i < converted; ++i) {
            const double gain = m_fade.gain(static_cast<double>(m_resampledFrames + i) / muxAudioSampleRate);
            left[static_cast<std::size_t>(i)] *= static_cast<float>(gain);
            right[static_cast<std::size_t>(i)] *= static_cast<float>(gain);
        }
        m_resampledFrames += converted;
        check(av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(outputs), converted));
    }

    void encodeFromFifo(int frames)
    {
        av_frame_unref(m_frame.get());
        m_frame->nb_samples = frames;
        m_frame->format = AV_SAMPLE_FMT_FLTP;
        m_frame->sample_rate = muxAudioSampleRate;
        check(av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout));
        check(av_frame_get_buffer(m_frame.get(), 0));
        check(av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->data), frames));
        m_frame->pts = m_encodedFrames;
        m_encodedFrames += frames;
        check(avcodec_send_frame(m_codec.get(), m_frame.get()));
        drain(false);
    }

    void drain(bool flushing)
    {
        for (;;) {
            const int result = avcodec_receive_packet(m_codec.get(), m_packet.get());
            if (result == AVERROR(EAGAIN) || (flushing && result == AVERROR_EOF))
                return;
            check(result);
            m_sink(m_packet.get());
            av_packet_unref(m_packet.get());
        }
    }

    AudioFadeMix m_fade;
    PacketSink m_sink;
    std::unique_ptr<AudioDecoder> m_decoder;
    int m_inputChannels = 1;
    std::int64_t m_endFrame = 0;
    std::int64_t m_resampledFrames = 0;
    std::int64_t m_encodedFrames = 0;
    bool m_inputEnded = false;
    CodecContextPtr m_codec;
    SwrContextPtr m_resampler;
    AudioFifoPtr m_fifo;
    FramePtr m_frame;
    PacketPtr m_packet;
    std::vector<std::vector<float>> m_input;
};

} // namespace

double AudioFadeMix::gain(double seconds) const
{
    if (!(length > 0) || seconds < start)
        return 1.0;
    if (seconds >= start + length)
        return 0.0;
    return 1.0 - (seconds - start) / length;
}

double onMediaGrid(double seconds)
{
    constexpr double mediaTimescale = 600.0;
    return std::round(seconds * mediaTimescale) / mediaTimescale;
}

AudioFadeMix makeAudioFadeMix(double cutTime, double fadeOutDuration)
{
    AudioFadeMix mix;
    const double cut = onMediaGrid(std::isfinite(cutTime) ? cutTime : 0.0);
    mix.start = onMediaGrid(AudioFadeEnvelope::fadeStart(cut, fadeOutDuration));
    mix.length = std::max(cut - mix.start, 0.0);
    return mix;
}

EncodedSongTrack encodeSongTrack(const std::filesystem::path& song, AudioFadeMix fade, double end,
                                 const std::stop_token& cancellation)
{
    routeFfmpegLogToLog();
    EncodedSongTrack track;
    track.end = end;
    track.fade = fade;
    SongTrackWriter writer(song, fade, end);
    track.timeBase = writer.codec()->time_base;
    track.parameters.reset(avcodec_parameters_alloc());
    if (!track.parameters)
        failMux("No se pudo escribir la pista de audio en el MP4.");
    check(avcodec_parameters_from_context(track.parameters.get(), writer.codec()),
          "No se pudo escribir la pista de audio en el MP4.");
    writer.setSink([&track](AVPacket* packet) {
        PacketPtr copy(av_packet_clone(packet));
        if (!copy)
            failMux("No se pudo escribir la pista de audio en el MP4.");
        track.packets.push_back(std::move(copy));
    });
    // A second of sound at a time, so that a cancel is heard at once.
    for (double until = 1.0;; until += 1.0) {
        if (cancellation.stop_requested())
            throw ExportCancelledError();
        if (until >= end) {
            writer.finish();
            break;
        }
        writer.writeUntil(until);
    }
    return track;
}

SongTrackEncoding::SongTrackEncoding(std::filesystem::path song, AudioFadeMix fade, double end)
{
    std::promise<EncodedSongTrack> promise;
    m_track = promise.get_future();
    m_thread = std::jthread([promise = std::move(promise), song = std::move(song), fade,
                             end](const std::stop_token& stop) mutable {
        try {
            promise.set_value(encodeSongTrack(song, fade, end, stop));
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
}

SongTrackEncoding::~SongTrackEncoding() = default; // the thread is asked to stop and joined first

EncodedSongTrack SongTrackEncoding::take(const std::stop_token& cancellation)
{
    while (m_track.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (cancellation.stop_requested())
            throw ExportCancelledError();
    }
    return m_track.get();
}

TemporaryMuxFile::TemporaryMuxFile(Kind kind)
    : m_path(DuskmereStorage::temporaryDirectory() /
             (".fotivela-" + Uuid::random().toString() + (kind == Kind::video ? ".mp4" : "-audio.mp4")))
{
}

TemporaryMuxFile::~TemporaryMuxFile()
{
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
}

void writeVideoWithSound(const std::filesystem::path& video, const MuxSound& sound, double end,
                         const std::filesystem::path& output, const std::function<void()>& throwIfCancelled)
{
    routeFfmpegLogToLog();
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, video.c_str(), nullptr, nullptr) < 0)
        failMux("No se encontro una pista de video valida.");
    const InputFormatContextPtr input(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0)
        failMux("No se encontro una pista de video valida.");
    const int videoIndex = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0)
        failMux("No se encontro una pista de video valida.");
    AVStream* sourceVideo = opened->streams[videoIndex];

    AVFormatContext* created = nullptr;
    if (avformat_alloc_output_context2(&created, nullptr, "mp4", output.c_str()) < 0 || created == nullptr)
        failMux("No se pudo escribir la pista de video en el MP4.");
    const OutputFormatContextPtr writer(created);
    AVStream* videoStream = avformat_new_stream(created, nullptr);
    if (videoStream == nullptr)
        failMux("No se pudo escribir la pista de video en el MP4.");
    check(avcodec_parameters_copy(videoStream->codecpar, sourceVideo->codecpar),
          "No se pudo escribir la pista de video en el MP4.");
    videoStream->codecpar->codec_tag =
        sourceVideo->codecpar->codec_id == AV_CODEC_ID_HEVC ? MKTAG('h', 'v', 'c', '1') : 0;
    videoStream->time_base = sourceVideo->time_base;
    videoStream->avg_frame_rate = sourceVideo->avg_frame_rate;

    // The sound: the track encoded ahead, the song encoded here, or the song's own packets.
    EncodedSongTrack* prepared = sound.kind == MuxSound::Kind::prepared ? sound.prepared : nullptr;
    std::optional<SongTrackWriter> song;
    if (sound.kind == MuxSound::Kind::encoded)
        song.emplace(sound.song, sound.fade, end);
    FileInputPtr songInput;
    int songIndex = -1;
    if (sound.kind == MuxSound::Kind::copied) {
        songInput = openSong(sound.song);
        songIndex = av_find_best_stream(songInput.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (songIndex < 0)
            failMux("No se encontro una pista de audio valida.");
    }

    AVStream* audioStream = avformat_new_stream(created, nullptr);
    if (audioStream == nullptr)
        failMux("No se pudo escribir la pista de audio en el MP4.");
    AVRational audioTimeBase{1, muxAudioSampleRate};
    int copiedParameters = 0;
    if (prepared != nullptr) {
        audioTimeBase = prepared->timeBase;
        copiedParameters = avcodec_parameters_copy(audioStream->codecpar, prepared->parameters.get());
    } else if (song) {
        audioTimeBase = song->codec()->time_base;
        copiedParameters = avcodec_parameters_from_context(audioStream->codecpar, song->codec());
    } else {
        const AVStream* source = songInput->streams[songIndex];
        audioTimeBase = source->time_base;
        copiedParameters = avcodec_parameters_copy(audioStream->codecpar, source->codecpar);
        audioStream->codecpar->codec_tag = 0;
    }
    check(copiedParameters, "No se pudo escribir la pista de audio en el MP4.");
    audioStream->time_base = audioTimeBase;
    const auto writeAudio = [&](AVPacket* packet) {
        av_packet_rescale_ts(packet, audioTimeBase, audioStream->time_base);
        packet->stream_index = audioStream->index;
        packet->pos = -1;
        check(av_interleaved_write_frame(created, packet));
    };
    if (song)
        song->setSink(writeAudio);
    std::size_t nextPrepared = 0;
    const PacketPtr songPacket(av_packet_alloc());
    bool songPacketHeld = false;
    bool songEnded = false;
    const auto packetTime = [](const AVPacket* packet, AVRational timeBase) {
        const std::int64_t order = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        return order == AV_NOPTS_VALUE ? std::optional<double>{} : static_cast<double>(order) * av_q2d(timeBase);
    };
    // The song up to a time of the video, so that the two stay interleaved.
    const auto audioUntil = [&](double seconds) {
        if (song) {
            song->writeUntil(seconds);
            return;
        }
        if (prepared != nullptr) {
            for (; nextPrepared < prepared->packets.size(); ++nextPrepared) {
                AVPacket* packet = prepared->packets[nextPrepared].get();
                if (const auto time = packetTime(packet, audioTimeBase); time && *time >= seconds)
                    break;
                writeAudio(packet);
            }
            return;
        }
        // The song's own packets: each one that begins before the cut, whole.
        while (!songEnded) {
            if (!songPacketHeld) {
                const int read = av_read_frame(songInput.get(), songPacket.get());
                if (read == AVERROR_EOF) {
                    songEnded = true;
                    return;
                }
                check(read, "No se pudo leer la pista de audio original.");
                if (songPacket->stream_index != songIndex) {
                    av_packet_unref(songPacket.get());
                    continue;
                }
                songPacketHeld = true;
            }
            const auto time = packetTime(songPacket.get(), audioTimeBase);
            if (time && *time >= end) {
                songEnded = true;
                av_packet_unref(songPacket.get());
                return;
            }
            if (time && *time >= seconds)
                return;
            writeAudio(songPacket.get());
            av_packet_unref(songPacket.get());
            songPacketHeld = false;
        }
    };

    check(avio_open(&created->pb, output.c_str(), AVIO_FLAG_WRITE));
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int header = avformat_write_header(created, &options);
    av_dict_free(&options);
    check(header);

    const PacketPtr packet(av_packet_alloc());
    if (!packet)
        failMux("No se pudo leer la pista de video codificada.");
    for (;;) {
        throwIfCancelled();
        const int read = av_read_frame(opened, packet.get());
        if (read == AVERROR_EOF)
            break;
        check(read, "No se pudo leer la pista de video codificada.");
        if (packet->stream_index != videoIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        const double timeBase = av_q2d(sourceVideo->time_base);
        if (packet->pts != AV_NOPTS_VALUE && static_cast<double>(packet->pts) * timeBase >= end) {
            av_packet_unref(packet.get());
            continue;
        }
        audioUntil(packetTime(packet.get(), sourceVideo->time_base).value_or(0.0));
        av_packet_rescale_ts(packet.get(), sourceVideo->time_base, videoStream->time_base);
        packet->stream_index = videoStream->index;
        packet->pos = -1;
        check(av_interleaved_write_frame(created, packet.get()));
    }
    if (song)
        song->finish();
    else
        audioUntil(std::numeric_limits<double>::infinity());
    check(av_write_trailer(created));
    check(avio_closep(&created->pb));
}

MuxComposition VideoExporter::muxComposition(const std::filesystem::path& videoURL,
                                             const std::filesystem::path& originalAudioURL) const
{
    routeFfmpegLogToLog();
    MuxComposition composition;
    composition.video = videoURL;
    composition.song = originalAudioURL;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, videoURL.c_str(), nullptr, nullptr) < 0)
        failMux("No se encontro una pista de video valida.");
    const InputFormatContextPtr video(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0)
        failMux("No se encontro una pista de video valida.");
    const int videoIndex = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0)
        failMux("No se encontro una pista de video valida.");
    const AVStream* sourceVideo = opened->streams[videoIndex];
    composition.videoCodec = sourceVideo->codecpar->codec_id;
    composition.width = sourceVideo->codecpar->width;
    composition.height = sourceVideo->codecpar->height;
    composition.duration = std::min(streamSeconds(opened, sourceVideo), onMediaGrid(slideshowSeconds()));

    const FileInputPtr song = openSong(originalAudioURL);
    const int songIndex = av_find_best_stream(song.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (songIndex < 0)
        failMux("No se encontro una pista de audio valida.");
    composition.songCodec = song->streams[songIndex]->codecpar->codec_id;
    composition.fades = m_project.audio && m_project.audio->cutToSlideshowDuration;
    composition.fade = songFade(composition.duration);
    return composition;
}

void VideoExporter::muxOriginalAudio(const std::filesystem::path& videoURL, const std::filesystem::path& originalAudioURL,
                                     const std::filesystem::path& outputURL, EncodedSongTrack* prepared) const
{
    // What both ways need: its failures end the mux without a second try.
    const MuxComposition composition = muxComposition(videoURL, originalAudioURL);
    // The mux writes beside the other temporary files and moves into place only
    // when complete, so that a failure never leaves a partial MP4 at the destination.
    const TemporaryMuxFile muxed(TemporaryMuxFile::Kind::muxed);
    try {
        muxWithReaderWriter(composition, muxed.path(), prepared);
    } catch (const ExportCancelledError&) {
        throw;
    } catch (const std::exception&) {
        // The copy's own error is dropped: the second way's outcome is the mux's.
        exportCompositionWithFallback(composition, muxed.path());
    }
    throwIfCancelled();
    moveFileIntoPlace(muxed.path(), outputURL);
}

void VideoExporter::muxWithReaderWriter(const MuxComposition& composition, const std::filesystem::path& outputURL,
                                        EncodedSongTrack* prepared) const
{
    // A track encoded ahead serves only the cut and fade it was made for.
    if (prepared != nullptr &&
        (prepared->end != composition.duration || !(prepared->fade == composition.fade) || !prepared->parameters))
        prepared = nullptr;
    MuxSound sound;
    sound.kind = prepared != nullptr ? MuxSound::Kind::prepared : MuxSound::Kind::encoded;
    sound.song = composition.song;
    sound.fade = composition.fade;
    sound.prepared = prepared;
    writeVideoWithSound(composition.video, sound, composition.duration, outputURL, [this] { throwIfCancelled(); });
}

AudioFadeMix VideoExporter::songFade(double end) const
{
    const bool fades = m_project.audio && m_project.audio->cutToSlideshowDuration;
    return fades ? makeAudioFadeMix(end, m_project.audio->cutFadeOutDuration) : AudioFadeMix{};
}

double VideoExporter::slideshowSeconds() const
{
    double seconds = 0.0;
    for (const Slide& slide : m_slides)
        seconds += slide.duration;
    return seconds;
}

} // namespace fotivela
