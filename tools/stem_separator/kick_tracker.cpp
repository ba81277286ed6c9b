#include "kick_tracker.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

KickTracker::KickTracker(const SeparationModel& model, int sampleRate)
{
    const double binHz = static_cast<double>(sampleRate) / model.fftSize;
    const double frameSeconds = static_cast<double>(model.hopSize) / sampleRate;
    m_bins = model.fftSize / 2 + 1;
    m_firstBin = std::max(1, static_cast<int>(std::ceil(model.kickBand.fromHz / binHz)));
    m_endBin = std::min(m_bins, static_cast<int>(model.kickBand.toHz / binHz) + 1);
    m_lookbackFrames = static_cast<int>(std::lround(model.kickLookbackSeconds / frameSeconds));
    m_riseRatio = model.kickRiseRatio;
    m_sweepRatio = model.kickSweepRatio;
    m_slowestDecay = std::exp(-frameSeconds / std::max(model.kickLongestDecaySeconds, 1e-3));
    m_fastestDecay = std::exp(-frameSeconds / std::max(model.kickShortestDecaySeconds, 1e-3));
    m_longTail = std::exp(-2 * frameSeconds / 0.2);
}

double KickTracker::lowEnergy(const float* row) const
{
    double energy = 0;
    for (int bin = m_firstBin; bin < m_endBin; ++bin)
        energy += static_cast<double>(row[bin]) * row[bin];
    return energy;
}

namespace {

// Centroid, in bins, of what `row` holds above `before`.
double newEnergyCentroid(const float* row, const float* before, int first, int end)
{
    double weighted = 0, total = 0;
    for (int bin = first; bin < end; ++bin) {
        const double added = std::max(0.0f, row[bin] - before[bin]);
        weighted += bin * added * added;
        total += added * added;
    }
    return total > 0 ? weighted / total : 0.0;
}

} // namespace

void KickTracker::findOnsets(const float* magnitude, int stride, int rows, std::vector<std::uint8_t>& onsets) const
{
    onsets.assign(static_cast<std::size_t>(std::max(rows, 0)), 0);
    if (!enabled() || rows <= onsetReachBefore + onsetReachAfter)
        return;
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    std::vector<double> energy(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
        energy[static_cast<std::size_t>(r)] = lowEnergy(rowOf(r));
    const auto rise = [&](int r) {
        return energy[static_cast<std::size_t>(r)] / (energy[static_cast<std::size_t>(r - 2)] + 1e-9);
    };
    for (int r = onsetReachBefore; r + onsetReachAfter < rows; ++r) {
        const double here = rise(r);
        if (here < m_riseRatio || here < rise(r - 1) || here <= rise(r + 1))
            continue;
        // The pitch falls: what came new at the onset sits higher than what is new three frames on.
        const double atOnset = newEnergyCentroid(rowOf(r), rowOf(r - 2), m_firstBin, m_endBin);
        const double later = newEnergyCentroid(rowOf(r + 3), rowOf(r - 2), m_firstBin, m_endBin);
        if (later > 0 && atOnset >= m_sweepRatio * later)
            onsets[static_cast<std::size_t>(r)] = 1;
    }
}

void KickTracker::kickMagnitude(const float* magnitude, int stride, int rows, int row,
    const std::vector<std::uint8_t>& onsets, std::vector<float>& out) const
{
    out.assign(static_cast<std::size_t>(m_bins), 0.0f);
    if (!enabled())
        return;
    int onset = -1;
    for (int r = row; r >= std::max(onsetReachBefore, row - m_lookbackFrames); --r)
        if (onsets[static_cast<std::size_t>(r)]) {
            onset = r;
            break;
        }
    if (onset < 0 || onset + onsetReachAfter >= rows)
        return;
    const auto rowOf = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    const float* before = rowOf(onset - 2);
    const float* here = rowOf(row);
    const float* settled = rowOf(onset + 4);
    // After the sweep what is new holds the kick's body, dying away, and may
    // hold a note that began with it and holds on: new energy two, four and
    // eight frames in gives the body's decay and the held rest.
    double sums[3] = {0, 0, 0};
    const int offsets[3] = {2, 4, 8};
    for (int k = 0; k < 3; ++k) {
        const float* at = rowOf(onset + offsets[k]);
        for (int bin = m_firstBin; bin < m_endBin; ++bin)
            sums[k] += std::max(0.0f, at[bin] - before[bin]);
    }
    double atOnset = 0;
    for (int bin = m_firstBin; bin < m_endBin; ++bin)
        atOnset += std::max(0.0f, rowOf(onset)[bin] - before[bin]);
    // sums = body·d^(offset − 2) + held; with q = d²: (s4 − s8) / (s2 − s4) = q (1 + q).
    const double slowest = m_slowestDecay * m_slowestDecay;
    double q = slowest;
    double share = 1.0;
    const double fall = sums[0] - sums[1];
    if (fall > 0.05 * sums[0]) {
        const double ratio = std::max(0.0, sums[1] - sums[2]) / fall;
        q = (std::sqrt(1 + 4 * ratio) - 1) / 2;
        if (q > slowest)
            return; // falling faster later than at first: a note ending, not a body dying away
        q = std::max(q, m_fastestDecay * m_fastestDecay);
        const double body = std::min(sums[0], fall / (1 - q));
        // The body's share of what is new four frames in.
        share = sums[1] > 0 ? std::min(1.0, body * q / sums[1]) : 0.0;
    } else if (sums[2] < 0.85 * sums[0] || sums[1] < 0.7 * atOnset) {
        // Neither dying away nor holding, or held under a hit that was gone at once: no body.
        return;
    }
    // Nothing falling yet: a driven kick holding its level, all body at the slowest decay.
    // A long body is a kick's only while its pitch is still settling; else it
    // is a note that began with the kick.
    if (q > m_longTail
        && newEnergyCentroid(rowOf(onset + 2), before, m_firstBin, m_endBin)
            < 1.1 * newEnergyCentroid(settled, before, m_firstBin, m_endBin))
        return;
    if (row < onset + 4) {
        // While the pitch sweeps, what is new here and gone four frames on is the kick's.
        for (int bin = m_firstBin; bin < m_endBin; ++bin) {
            const float added = std::max(0.0f, here[bin] - before[bin]);
            const float stays = std::max(0.0f, settled[bin] - before[bin]);
            out[static_cast<std::size_t>(bin)] = std::max(0.0f, added - stays);
        }
        return;
    }
    const auto gain = static_cast<float>(share * std::pow(std::sqrt(q), row - onset - 4));
    for (int bin = m_firstBin; bin < m_endBin; ++bin) {
        const float settledBody = std::max(0.0f, settled[bin] - before[bin]);
        out[static_cast<std::size_t>(bin)] = std::min(here[bin], settledBody * gain);
    }
}

} // namespace fotivela::stem_separator
