#include "note_persistence.h"

#include "kick_tracker.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

// The value at a fractional bin, linearly between its neighbours.
float at(const float* row, int bins, double bin)
{
    const int below = std::clamp(static_cast<int>(std::floor(bin)), 0, bins - 2);
    const auto fraction = static_cast<float>(bin - below);
    return row[below] + fraction * (row[below + 1] - row[below]);
}

} // namespace

NotePersistence::NotePersistence(const SeparationModel& model, int sampleRate)
{
    const double binHz = static_cast<double>(sampleRate) / model.fftSize;
    m_bins = model.fftSize / 2 + 1;
    if (model.kickLookbackSeconds <= 0)
        return;
    m_firstBin = std::max(1, static_cast<int>(std::ceil(model.kickBand.fromHz / binHz)));
    m_endBin = std::min(m_bins - 1, static_cast<int>(model.kickBand.toHz / binHz) + 1);
    m_lowestBin = std::max(1, static_cast<int>(std::ceil(model.bassNoteMinHz / binHz)));
}

bool NotePersistence::harmonicNoteAt(const float* row, const float* before, double fundamental) const
{
    int standing = 0;
    for (int k = 2; k <= harmonicsLookedFor + 1; ++k) {
        const double centre = k * fundamental;
        if (centre + fundamental / 2 >= m_bins - 1)
            break;
        const int nearest = static_cast<int>(std::lround(centre));
        const float level = std::max(at(row, m_bins, centre), row[nearest]);
        const float valley
            = 0.5f * (at(row, m_bins, centre - fundamental / 2) + at(row, m_bins, centre + fundamental / 2));
        const float was = std::max(at(before, m_bins, centre), before[nearest]);
        if (level >= harmonicContrast * valley && level >= harmonicRise * was)
            ++standing;
    }
    return standing >= harmonicsNeeded;
}

void NotePersistence::lastingLevel(const float* magnitude, int stride, int rows, int row,
    const std::vector<std::uint8_t>& onsets, std::vector<float>& out) const
{
    out.clear();
    if (!enabled())
        return;
    // The window of the frame before the onset already reaches into the kick.
    int onset = -1;
    for (int r = std::min(row + 1, rows - 1); r >= std::max(0, row - onsetRowsBefore); --r)
        if (onsets[static_cast<std::size_t>(r)]) {
            onset = r;
            break;
        }
    if (onset < 2 + rangRows || onset + diedRow >= rows
        || onsets[static_cast<std::size_t>(onset)] != KickTracker::kickOnset)
        return; // a driven kick's body is followed by the kick tracker
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    const float* here = rowOf(row);
    const float* before = rowOf(onset - 2);
    const float* ringing = rowOf(onset + stillRingingRow);
    const float* died = rowOf(onset + diedRow);
    out.assign(static_cast<std::size_t>(m_bins), -1.0f);
    for (int bin = m_firstBin; bin < m_endBin; ++bin) {
        float rang = 0;
        for (int r = onset - 2 - rangRows; r <= onset - 2; ++r)
            rang = std::max(rang, rowOf(r)[bin]);
        // Still ringing, not dying away as the kick's body does.
        float loudest = 0;
        for (int r = onset; r < onset + stillRingingRow; ++r)
            loudest = std::max(loudest, rowOf(r)[bin]);
        const float held = ringing[bin] >= stillRingingShare * loudest ? std::min(rang, ringing[bin]) : 0.0f;
        out[static_cast<std::size_t>(bin)] = std::min(here[bin], lastingSlack * std::max(held, died[bin]));
    }

    // A note struck with the kick: a fundamental, or one under a peak that
    // is its second harmonic where the kick's body hides the fundamental.
    for (int probe = onset + firstHarmonicRow; probe <= onset + lastHarmonicRow; ++probe) {
        const float* probed = rowOf(probe);
        for (int peak = m_lowestBin; peak < std::min(2 * m_endBin, m_bins - 1); ++peak) {
            if (!(probed[peak] > probed[peak - 1] && probed[peak] >= probed[peak + 1]))
                continue;
            const double below = probed[peak - 1], top = probed[peak], above = probed[peak + 1];
            const double curve = below - 2 * top + above;
            const double centre = peak + (curve < 0 ? 0.5 * (below - above) / curve : 0.0);
            for (const double fundamental : {centre, centre / 2}) {
                if (fundamental < m_lowestBin || fundamental >= m_endBin
                    || !harmonicNoteAt(probed, before, fundamental))
                    continue;
                for (int k = 1; k <= harmonicsLookedFor + 1; ++k) {
                    const double partial = k * fundamental;
                    const int from = std::max(m_firstBin, static_cast<int>(std::ceil(partial - harmonicWidthBins)));
                    const int to = std::min(m_endBin - 1, static_cast<int>(std::floor(partial + harmonicWidthBins)));
                    for (int bin = from; bin <= to; ++bin)
                        out[static_cast<std::size_t>(bin)] = here[bin];
                }
            }
        }
    }
}

} // namespace fotivela::stem_separator
