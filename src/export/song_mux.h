#pragma once

#include "platform/ffmpeg_handles.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <stop_token>
#include <thread>
#include <vector>

namespace fotivela {

// The closing fade of a song cut to the slideshow: full volume until start,
// then a straight ramp to silence that ends at the cut. Times are kept on a
// 1/600 s grid, as the project's media times are.
struct AudioFadeMix {
    double start = 0.0;
    double length = 0.0;

    // The volume at a time of the song, 0...1.
    double gain(double seconds) const;

    friend bool operator==(const AudioFadeMix&, const AudioFadeMix&) = default;
};

// A time on the 1/600 s grid of the project's media times.
double onMediaGrid(double seconds);

// The fade for a cut at cutTime lasting fadeOutDuration (at least 0.2 s, never before 0).
AudioFadeMix makeAudioFadeMix(double cutTime, double fadeOutDuration);

// Output of the song track: AAC stereo 44,100 Hz at 192 kbit/s.
inline constexpr int muxAudioSampleRate = 44100;
inline constexpr int muxAudioChannelCount = 2;
inline constexpr std::int64_t muxAudioBitRate = 192000;

// The song's track encoded before the mux: AAC packets in the encoder's time
// base, for a cut at `end` seconds with `fade`.
struct EncodedSongTrack {
    double end = 0.0;
    AudioFadeMix fade;
    CodecParametersPtr parameters;
    AVRational timeBase{1, muxAudioSampleRate};
    std::vector<PacketPtr> packets;
};

// Decodes, fades and encodes the song; throws VideoExporterError as the mux
// would, ExportCancelledError once `cancellation` is requested.
EncodedSongTrack encodeSongTrack(const std::filesystem::path& song, AudioFadeMix fade, double end,
                                 const std::stop_token& cancellation);

// encodeSongTrack on a thread of its own, so that the song is ready when the
// frames are: the mux is then only a copy. Stopped and joined when destroyed.
class SongTrackEncoding {
public:
    SongTrackEncoding(std::filesystem::path song, AudioFadeMix fade, double end);
    ~SongTrackEncoding();
    SongTrackEncoding(const SongTrackEncoding&) = delete;
    SongTrackEncoding& operator=(const SongTrackEncoding&) = delete;

    // Waits for the track and hands it over (once). Rethrows what encoding it
    // threw; ExportCancelledError when `cancellation` is requested meanwhile.
    EncodedSongTrack take(const std::stop_token& cancellation);

private:
    std::future<EncodedSongTrack> m_track;
    std::jthread m_thread;
};

// What both ways of the mux work from: the temporary video, the song and the
// cut. Made once; its failures end the mux.
struct MuxComposition {
    std::filesystem::path video;
    std::filesystem::path song;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    AVCodecID songCodec = AV_CODEC_ID_NONE;
    // D: the smaller of the video's length and the slideshow's.
    double duration = 0.0;
    // Whether the song is faded out at the cut, and how.
    bool fades = false;
    AudioFadeMix fade;
};

// Where the mux takes the sound from: the song encoded here with its fade,
// a track encoded ahead, or the song's own packets as they are.
struct MuxSound {
    enum class Kind { encoded, prepared, copied };
    Kind kind = Kind::encoded;
    std::filesystem::path song;
    AudioFadeMix fade;
    EncodedSongTrack* prepared = nullptr;
};

// Copies the video's packets before `end` and writes the sound up to `end`
// beside them into `output`: MP4, index at the front. Throws VideoExporterError
// (audioMuxFailed), or what throwIfCancelled throws.
void writeVideoWithSound(const std::filesystem::path& video, const MuxSound& sound, double end,
                         const std::filesystem::path& output, const std::function<void()>& throwIfCancelled);

// A file of the mux in the temporary folder, under a name the start-up sweep
// recognises, removed however the step that writes it ends.
class TemporaryMuxFile {
public:
    enum class Kind { muxed, video };
    explicit TemporaryMuxFile(Kind kind);
    ~TemporaryMuxFile();
    TemporaryMuxFile(const TemporaryMuxFile&) = delete;
    TemporaryMuxFile& operator=(const TemporaryMuxFile&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace fotivela
