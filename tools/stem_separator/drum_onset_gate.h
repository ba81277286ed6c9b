#pragma once

#include "stem_output.h"

#include <array>
#include <cstddef>
#include <vector>

namespace fotivela::stem_separator {

// Finished samples of all four stems over one stretch of the song.
struct StemBlock {
    std::array<std::array<const float*, 2>, stemCount> sides{}; // [stem][left, right], in Stem order
    std::size_t frames = 0;
};

// Where the separator hands its finished samples.
class StemSink {
public:
    virtual ~StemSink() = default;
    virtual void write(const StemBlock& block) = 0;
};

// The last stage before the files. A spectral mask lets a drum hit reach back
// across its analysis window, so the drum stem starts each hit with a faint
// copy of whatever played just before it, which sets off onset detectors
// early. Drum sound lying well below a hit that follows within the look-ahead
// is moved to the other stem (the sum of the stems stays the input).
class DrumOnsetGate : public StemSink {
public:
    // lookaheadSeconds 0 passes everything through unchanged.
    DrumOnsetGate(StemOutput& output, int sampleRate, double lookaheadSeconds, double ratioDecibels);

    void write(const StemBlock& block) override;
    // Writes what is held back for the look-ahead.
    void finish();

private:
    void emit(bool atEnd);
    float gainOfBlock(std::size_t block) const;

    StemOutput& m_output;
    int m_blockFrames;
    int m_lookaheadBlocks;
    double m_ratio; // energy ratio, above 1
    // Samples not written yet, from song frame m_base: [stem][side].
    std::array<std::array<std::vector<float>, 2>, stemCount> m_pending;
    std::vector<double> m_energy; // drum energy of each whole block held, from m_base
    std::array<std::vector<float>, 4> m_out; // drums and other, both sides, for one emit
};

} // namespace fotivela::stem_separator
