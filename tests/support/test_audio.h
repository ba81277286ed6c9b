#pragma once

// Synthesised audio with known content and onsets, written to real files in the
// formats the program reads, plus broken files for the failure paths.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace fotivela::test {

// Planar 32-bit float samples at one rate; every channel has the same length.
struct TestSignal {
    int sampleRate = 44100;
    std::vector<std::vector<float>> channels;

    int channelCount() const { return static_cast<int>(channels.size()); }
    std::size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
    double durationSeconds() const { return static_cast<double>(frameCount()) / sampleRate; }

    friend bool operator==(const TestSignal&, const TestSignal&) = default;
};

// channel = -1 means every channel.
constexpr int allChannels = -1;
constexpr double untilEnd = std::numeric_limits<double>::infinity();

TestSignal makeSilence(double seconds, int sampleRate = 44100, int channelCount = 2);
TestSignal makeSilenceFrames(std::size_t frames, int sampleRate = 44100, int channelCount = 2);

// Adds (mixes into) the signal; parts outside the signal are dropped.
void addSine(TestSignal& signal, double frequency, double amplitude, double start = 0.0,
    double duration = untilEnd, int channel = allChannels);
// A short full-band click: a few samples of a decaying square.
void addClick(TestSignal& signal, double time, double amplitude = 0.9, int channel = allChannels);
// A drum-like hit: a pitch-dropping decaying sine with a noise burst on top.
void addDrumHit(TestSignal& signal, double time, double amplitude = 0.8, double frequency = 80.0,
    double decaySeconds = 0.12, int channel = allChannels);
void addClicks(TestSignal& signal, const std::vector<double>& times, double amplitude = 0.9,
    int channel = allChannels);
void addDrumHits(TestSignal& signal, const std::vector<double>& times, double amplitude = 0.8,
    int channel = allChannels);
// Deterministic white noise for a given seed.
void addNoise(TestSignal& signal, double amplitude, std::uint32_t seed = 1, double start = 0.0,
    double duration = untilEnd, int channel = allChannels);

// A sine on every channel; channel c gets frequency × (c + 1) when distinct is set,
// so that channel order can be checked after decoding.
TestSignal makeSine(double frequency, double seconds, int sampleRate = 44100, int channelCount = 2,
    double amplitude = 0.5, bool distinctPerChannel = false);

enum class TestAudioFormat { wav16, wav24, wav32, wavFloat, flac16, flac24, aiff16, mp3, m4a };

const char* fileExtension(TestAudioFormat format);
bool isLossless(TestAudioFormat format);

// Writes the signal as the format; bitRate applies to MP3 and AAC only.
// Throws std::runtime_error when the file cannot be written.
void writeAudioFile(const std::filesystem::path& file, const TestSignal& signal, TestAudioFormat format,
    int bitRate = 192000);
// Writes into folder/<name>.<extension> and returns the path.
std::filesystem::path writeAudioFile(const std::filesystem::path& folder, const std::string& name,
    const TestSignal& signal, TestAudioFormat format, int bitRate = 192000);

// An MP3 through FFmpeg's libmp3lame. Without the Xing frame nothing in the file states
// its length; with variable bit rate the first frame's rate no longer tells it either.
struct Mp3Options {
    bool variableBitRate = false;
    bool xingFrame = true;
};
void writeMp3(const std::filesystem::path& file, const TestSignal& signal, Mp3Options options, int bitRate = 192000);
// A lossless float WavPack file: it keeps NaN and infinities, and FFmpeg decodes it as planar float.
void writeWavPackFloat(const std::filesystem::path& file, const TestSignal& signal);

// What a lossless file gives back for a sample: the integer the writer stored,
// scaled back to float the way FFmpeg does it.
float quantizedSample(float sample, TestAudioFormat format);

// Broken inputs.
void truncateFile(const std::filesystem::path& file, std::uintmax_t keepBytes);
void writeTextFile(const std::filesystem::path& file, const std::string& text);
void writeRandomBytes(const std::filesystem::path& file, std::size_t count, std::uint32_t seed = 7);
// Rewrites the size field of a WAV file's "data" chunk (and the RIFF size) to claim dataBytes.
void setWavDataChunkSize(const std::filesystem::path& file, std::uint32_t dataBytes);
// A short MPEG-4 video (one small grey frame per 1/10 s) with no audio track.
void writeVideoWithoutAudio(const std::filesystem::path& file, double seconds = 1.0);

// A fresh folder under the system's temporary folder, removed with everything in it.
class AudioTestFolder {
public:
    explicit AudioTestFolder(const std::string& prefix = "fotivela-audio");
    ~AudioTestFolder();
    AudioTestFolder(const AudioTestFolder&) = delete;
    AudioTestFolder& operator=(const AudioTestFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Index of the first frame on the channel whose magnitude reaches threshold, or -1.
std::int64_t firstFrameAbove(const std::vector<float>& samples, float threshold, std::size_t from = 0);
// Frequency of a steady tone from its zero crossings over the given frames.
double estimateFrequency(const std::vector<float>& samples, int sampleRate, std::size_t from, std::size_t count);

} // namespace fotivela::test
