#pragma once

#include "platform/audio_decoder.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace fotivela::stem_separator {

// The input song as a sliding stereo window over its decoder, so a long song
// never sits whole in memory. It holds the stereo the program plays the song
// as: a mono song on both sides, more channels mixed down as the player mixes
// them, so the stems add up to what the user hears.
class InputWindow {
public:
    // No recording comes near this (120 dB above full scale). Far louder songs
    // overflow the spectra into NaN, so a song past it is refused, well short of that.
    static constexpr float maxSampleMagnitude = 1.0e6f;

    // Throws SeparationError when the file cannot be read as audio.
    explicit InputWindow(const std::filesystem::path& file);

    int sampleRate() const { return m_sampleRate; }
    // Decodes up to (not including) frame `end`. Returns false when the song ends
    // before it; from then on length() is known. Throws SeparationError on a
    // sample beyond maxSampleMagnitude.
    bool fill(std::int64_t end);
    std::optional<std::int64_t> length() const { return m_length; }
    // Frames before `frame` are no longer needed.
    void discardBefore(std::int64_t frame);

    // Copies frames [start, start + count) of one side into `out`; frames outside
    // the song (or not decoded yet) read as silence.
    void copy(int side, std::int64_t start, std::int64_t count, float* out) const;

private:
    AudioDecoder m_decoder;
    int m_sampleRate = 0;
    int m_sourceChannels = 0;
    std::int64_t m_base = 0; // song frame of m_samples[.][0]
    std::array<std::vector<float>, 2> m_samples;
    std::vector<std::vector<float>> m_block;
    std::vector<const float*> m_blockChannels;
    std::optional<std::int64_t> m_length;
};

} // namespace fotivela::stem_separator
