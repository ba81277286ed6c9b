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

// The last stage before the files. A spectral mask lets an onset reach back
// across its analysis window, so a drum or bass stem starts each hit or note
// with a faint copy of whatever played just before it, which sets off onset
// detectors early. Sound of a gated stem lying well below an onset of that
// stem within the look-ahead is moved to the other stem (the sum of the stems
// stays the input).
struct OnsetGateSettings {
    Stem stem = Stem::drums;
    double lookaheadSeconds = 0; // 0 passes the stem through unchanged
    double ratioDecibels = 0;
    // What is moved goes to `lowTo` below about this frequency (0 = none), the
    // rest to the other stem.
    double lowHz = 0;
    Stem lowTo = Stem::other;
    // Sound falling well below a louder stretch within this look-back is the
    // ring of an earlier hit, or the dip of a low tone's wave, not the
    // mask's echo rising into the coming onset: it stays (0 = none).
    double tailSeconds = 0;
};

class OnsetGate : public StemSink {
public:
    OnsetGate(StemOutput& output, int sampleRate, const std::vector<OnsetGateSettings>& gates);

    void write(const StemBlock& block) override;
    // Writes what is held back for the look-ahead.
    void finish();

private:
    struct Gate {
        std::size_t stem = 0;
        int lookaheadBlocks = 0;
        double ratio = 1; // energy ratio, above 1
        std::vector<double> energy; // the stem's energy of each whole block held, from the first held
        int tailBlocks = 0;
        std::vector<double> past; // the energy of the last tailBlocks blocks written, oldest first
        std::size_t lowTo = 0;
        float lowPole = 0; // of the two one-pole low-passes in a row that split what is moved; 0 = no split
        std::array<std::array<float, 2>, 2> lowState{}; // [side][stage]
    };

    void emit(bool atEnd);
    static float gainOfBlock(const Gate& gate, std::size_t block);

    StemOutput& m_output;
    int m_blockFrames;
    int m_holdBlocks = 0; // the longest look-ahead
    std::vector<Gate> m_gates;
    // Samples not written yet: [stem][side].
    std::array<std::array<std::vector<float>, 2>, stemCount> m_pending;
    std::array<std::array<std::vector<float>, 2>, stemCount> m_out;
};

} // namespace fotivela::stem_separator
