#include "bass_partial.h"

#include "bass_notes.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace fotivela::stem_separator {

namespace {

// A Hann window's main lobe reaches two bins each side of a partial.
constexpr double lobeBins = 2.0;
constexpr double flankBins = 1.0;

std::complex<double> centreOf(const fftwf_complex* const* left, const fftwf_complex* const* right, int row, int bin)
{
    const fftwf_complex& l = left[row][bin];
    const fftwf_complex& r = right[row][bin];
    return {0.5 * (l[0] + r[0]), 0.5 * (l[1] + r[1])};
}

} // namespace

void followNotePartials(const FrameNeighbourhood& frame, const BassNote& note, const SeparationModel& model,
    NotePartials& partials)
{
    const int bins = frame.bins;
    partials.follows.assign(static_cast<std::size_t>(bins), -1.0f);
    partials.flank.assign(static_cast<std::size_t>(bins), 0);
    const int rows = frame.spectrumRows;
    if (note.bin <= 0 || rows < 3)
        return;
    const int middle = rows / 2;
    const double hopShare = static_cast<double>(model.hopSize) / model.fftSize;
    const double count = rows;
    for (int k = 1; k <= note.harmonics + 1; ++k) {
        const double centre = note.bin * k;
        const double angle = 2 * std::numbers::pi * centre * hopShare;
        const int from = std::max(0, static_cast<int>(std::ceil(centre - lobeBins)));
        const int to = std::min(bins - 1, static_cast<int>(std::floor(centre + lobeBins)));
        for (int bin = from; bin <= to; ++bin) {
            const bool flank = std::abs(bin - centre) > flankBins;
            // An overtone's centre may be where a kick settles, and turn with it:
            // only the fundamental's is claimed for the note.
            if (k > 1 && !flank)
                continue;
            std::complex<double> sum = 0;
            double energy = 0;
            for (int row = 0; row < rows; ++row) {
                const std::complex<double> value = centreOf(frame.left, frame.right, row, bin);
                sum += value * std::polar(1.0, -angle * (row - middle));
                energy += std::norm(value);
            }
            const double here = std::abs(centreOf(frame.left, frame.right, middle, bin));
            // On the flanks, sound that turns at random still sums to about
            // 1/√count of its level: only what is left above that follows.
            const double followed = flank
                ? std::sqrt(std::max(0.0, (std::norm(sum) - energy) / (count * (count - 1))))
                : std::abs(sum) / count;
            const auto share = static_cast<float>(here > 0 ? std::min(1.0, followed / here) : 0.0);
            float& follows = partials.follows[static_cast<std::size_t>(bin)];
            std::uint8_t& onFlank = partials.flank[static_cast<std::size_t>(bin)];
            // Where two partials' lobes meet, the nearer centre speaks.
            if (follows < 0 || (onFlank && !flank)) {
                follows = share;
                onFlank = flank ? 1 : 0;
            } else if (flank == static_cast<bool>(onFlank)) {
                follows = std::max(follows, share);
            }
        }
    }
}

} // namespace fotivela::stem_separator
