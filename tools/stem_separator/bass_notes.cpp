#include "bass_notes.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

// The value at a fractional bin, linearly between its neighbours.
float at(const float* row, int bins, double bin)
{
    const int below = std::clamp(static_cast<int>(std::floor(bin)), 0, bins - 1);
    const int above = std::min(below + 1, bins - 1);
    const auto fraction = static_cast<float>(bin - below);
    return row[below] + fraction * (row[above] - row[below]);
}

} // namespace

BassNote findBassNote(const float* steady, int bins, const SeparationModel& model, const MaskBands& bands)
{
    BassNote note;
    const int first = std::max(1, static_cast<int>(std::ceil(model.bassNoteMinHz / bands.binHz)));
    const int end = std::min(bins - 1, bands.bassNoteBins);
    float strongest = 0;
    for (int bin = first; bin < end; ++bin)
        if (steady[bin] > steady[bin - 1] && steady[bin] >= steady[bin + 1])
            strongest = std::max(strongest, steady[bin]);
    if (strongest <= 0)
        return note;
    // The lowest tone of some strength: a bass's upper harmonics, or a chord
    // above it, may be louder than its fundamental.
    int peak = 0;
    for (int bin = first; bin < end && peak == 0; ++bin)
        if (steady[bin] > steady[bin - 1] && steady[bin] >= steady[bin + 1]
            && steady[bin] >= static_cast<float>(model.bassNoteLowestShare) * strongest)
            peak = bin;
    // Where the peak lies between bins.
    const double before = steady[peak - 1], here = steady[peak], after = steady[peak + 1];
    const double curve = before - 2 * here + after;
    note.bin = peak + (curve < 0 ? 0.5 * (before - after) / curve : 0.0);

    // Harmonics count while they stand out of what lies halfway to their neighbours.
    const double contrast = model.bassHarmonicContrast;
    const double floorLevel = 1e-3 * here;
    int missed = 0;
    for (int k = 2; k <= model.bassHarmonics + 1; ++k) {
        const double centre = k * note.bin;
        if (centre + note.bin / 2 >= bins - 1)
            break;
        const double level = std::max(at(steady, bins, centre), steady[static_cast<int>(std::lround(centre))]);
        const double valley = 0.5 * (at(steady, bins, centre - note.bin / 2) + at(steady, bins, centre + note.bin / 2));
        if (level > floorLevel && level >= contrast * valley) {
            note.harmonics = k - 1;
            missed = 0;
        } else if (++missed == 2) {
            break;
        }
    }
    return note;
}

BassNote bassShares(const FrameNeighbourhood& frame, const float* harmonic, const float* percussive,
    const SeparationModel& model, const MaskBands& bands, MaskScratch& scratch)
{
    const int bins = frame.bins;
    const auto size = static_cast<std::size_t>(bins);
    scratch.bassShare.assign(bands.bass.begin(), bands.bass.end());
    scratch.bassClaim.assign(size, 0.0f);
    if (model.bassHarmonics == 0 || bands.bassNoteBins < 3)
        return {};
    const int middle = frame.magnitudeRows / 2;
    const float* now = frame.magnitudes[middle];
    const float* next = frame.magnitudes[std::min(middle + 1, frame.magnitudeRows - 1)];
    // What holds for two frames or across the median's frames, less the kick's body.
    scratch.bassSteady.resize(size);
    for (int bin = 0; bin < bins; ++bin) {
        float value = std::max(harmonic[bin], std::min(now[bin], next[bin]));
        if (frame.kick)
            value = std::max(0.0f, value - frame.kick[bin]);
        scratch.bassSteady[static_cast<std::size_t>(bin)] = value > percussive[bin] ? value : 0.0f;
    }
    BassNote note = findBassNote(scratch.bassSteady.data(), bins, model, bands);
    // A note struck with a kick hides under the kick's estimate in its first
    // frame; the next two frames, where the kick has died down, show it.
    if (note.bin <= 0 && middle + 2 < frame.magnitudeRows) {
        const float* later = frame.magnitudes[middle + 2];
        for (int bin = 0; bin < bins; ++bin)
            scratch.bassSteady[static_cast<std::size_t>(bin)] = std::min(next[bin], later[bin]);
        note = findBassNote(scratch.bassSteady.data(), bins, model, bands);
    }
    if (note.bin <= 0)
        return note;
    const double width = model.bassHarmonicWidthBins;
    const int holdRows = std::min(model.bassHoldFrames, frame.magnitudeRows - 1 - middle);
    for (int k = 1; k <= note.harmonics + 1; ++k) {
        const double centre = note.bin * k;
        const int from = std::max(0, static_cast<int>(std::ceil(centre - width)));
        const int to = std::min(bins - 1, static_cast<int>(std::floor(centre + width)));
        for (int bin = from; bin <= to; ++bin) {
            // Whole within a bin of the centre, where a partial between two bins
            // still stands at full strength, then falling away.
            const auto weight = static_cast<float>(std::clamp((width + 1.0 - std::abs(bin - centre)) / width, 0.0, 1.0));
            float& share = scratch.bassShare[static_cast<std::size_t>(bin)];
            share = std::max(share, weight);
            if (holdRows <= 0)
                continue;
            // A hit on the note takes what the note does not hold on with.
            float held = now[bin];
            for (int r = 1; r <= holdRows; ++r)
                held = std::min(held, frame.magnitudes[middle + r][bin]);
            float& claim = scratch.bassClaim[static_cast<std::size_t>(bin)];
            claim = std::max(claim, weight * held);
        }
    }
    return note;
}

} // namespace fotivela::stem_separator
