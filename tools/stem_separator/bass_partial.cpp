#include "bass_partial.h"

#include "bass_notes.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace fotivela::stem_separator {

namespace {

// A Hann window's main lobe reaches two bins each side of a partial.
constexpr double lobeBins = 2.0;
constexpr double flankBins = 1.0;
// A fundamental this many times louder than two frames before is a note
// struck with the kick: its flanks still hold its attack.
constexpr float struckRise = 6.0f;
// The rows summed, at most.
constexpr int maxRows = 5;

std::complex<double> centreOf(const FrameNeighbourhood& frame, int row, int bin)
{
    const fftwf_complex& l = frame.left[row][bin];
    const fftwf_complex& r = frame.right[row][bin];
    return {0.5 * (l[0] + r[0]), 0.5 * (l[1] + r[1])};
}

} // namespace

void followNotePartials(const FrameNeighbourhood& frame, const BassNote& note, const SeparationModel& model,
    NotePartials& partials)
{
    partials.follows.clear();
    partials.flank.clear();
    const int bins = frame.bins;
    const int rows = frame.spectrumRows;
    if (note.bin <= 0 || rows < 3)
        return;
    const int middle = rows / 2;
    const int magnitudeMiddle = frame.magnitudeRows / 2;
    const int peak = std::clamp(static_cast<int>(std::lround(note.bin)), 0, bins - 1);
    const bool struck = magnitudeMiddle >= 2
        && frame.magnitudes[magnitudeMiddle][peak] > struckRise * frame.magnitudes[magnitudeMiddle - 2][peak];
    // Each row turned back by the note's angle for the rows between it and the middle.
    const double angle = 2 * std::numbers::pi * note.bin * model.hopSize / model.fftSize;
    std::array<std::complex<double>, maxRows> back;
    const int used = std::min(rows, maxRows);
    const int top = middle - used / 2;
    for (int row = 0; row < used; ++row)
        back[static_cast<std::size_t>(row)] = std::polar(1.0, -angle * (top + row - middle));
    const double count = used;
    partials.first = std::max(0, static_cast<int>(std::ceil(note.bin - lobeBins)));
    const int last = std::min(bins - 1, static_cast<int>(std::floor(note.bin + lobeBins)));
    for (int bin = partials.first; bin <= last; ++bin) {
        const bool flank = std::abs(bin - note.bin) > flankBins;
        float follows = -1.0f;
        // An overtone may be where a kick settles, and turn with it: bins
        // its lobe reaches are left to the drums' own cues.
        bool overtone = false;
        for (int k = 2; k <= note.harmonics + 1 && !overtone; ++k)
            overtone = std::abs(bin - k * note.bin) <= lobeBins;
        if (!overtone && !(flank && struck)) {
            std::complex<double> sum = 0;
            double energy = 0;
            for (int row = 0; row < used; ++row) {
                const std::complex<double> value = centreOf(frame, top + row, bin);
                sum += value * back[static_cast<std::size_t>(row)];
                energy += std::norm(value);
            }
            // On the flanks, sound that turns at random still sums to about
            // 1/√count of its level: only what is left above that follows.
            const double followed = flank
                ? std::sqrt(std::max(0.0, (std::norm(sum) - energy) / (count * (count - 1))))
                : std::abs(sum) / count;
            const double here = std::abs(centreOf(frame, middle, bin));
            follows = static_cast<float>(here > 0 ? std::min(1.0, followed / here) : 0.0);
        }
        partials.follows.push_back(follows);
        partials.flank.push_back(flank ? 1 : 0);
    }
}

} // namespace fotivela::stem_separator
