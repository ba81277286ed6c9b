#include "bass_notes.h"

#include <algorithm>
#include <array>
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

// Overtones that mark a note under a kick.
constexpr int seriesOvertones = 2;
// Rows ahead, the frame itself first, over which a note's level is followed.
constexpr int maxNoteRows = 9;
// A note fallen further than this below its level in the frame has ended.
constexpr float endedFall = 4.0f;
// A held note fades no faster than this time constant; what does is a hit's body.
constexpr double fastestNoteFadeSeconds = 0.1;

// How much louder the note is in the middle row than r rows on, from its
// overtones: a kick's body and its settled pitch sit on the fundamental, while
// the overtones it swept past early fall with the note alone. The least of
// the overtones' ratios is taken, since whatever else sounds there only makes
// a ratio seem larger. 0 from where the note has ended, falls faster than
// fadePerFrame allows, or cannot be told.
std::array<float, maxNoteRows> noteEnvelope(const FrameNeighbourhood& frame, const BassNote& note, int middle,
    float fadePerFrame)
{
    std::array<float, maxNoteRows> envelope{};
    if (note.harmonics == 0)
        return envelope;
    const int bins = frame.bins;
    const auto levelAt = [&](int row, int k) {
        const double centre = k * note.bin;
        const int below = static_cast<int>(std::floor(centre));
        return std::max(frame.magnitudes[row][std::clamp(below, 0, bins - 1)],
            frame.magnitudes[row][std::clamp(below + 1, 0, bins - 1)]);
    };
    float fastest = 1;
    for (int r = 1; r < maxNoteRows && middle + r < frame.magnitudeRows; ++r) {
        float ratio = 0;
        for (int k = 2; k <= note.harmonics + 1; ++k) {
            const float later = levelAt(middle + r, k);
            if (later <= 0)
                continue;
            const float here = levelAt(middle, k) / later;
            ratio = ratio > 0 ? std::min(ratio, here) : here;
        }
        fastest *= fadePerFrame;
        if (ratio <= 0 || ratio > endedFall || ratio > fastest)
            break;
        envelope[static_cast<std::size_t>(r)] = ratio;
    }
    return envelope;
}

// Where the peak of `row` lies between bins, parabolic through its neighbours.
double peakBin(const float* row, int peak)
{
    const double before = row[peak - 1], here = row[peak], after = row[peak + 1];
    const double curve = before - 2 * here + after;
    return peak + (curve < 0 ? 0.5 * (before - after) / curve : 0.0);
}

// The peak of `row` reached by climbing from `bin`.
double peakFrom(const float* row, int bins, int bin)
{
    int peak = std::clamp(bin, 1, bins - 2);
    for (;;) {
        if (peak + 2 < bins && row[peak + 1] > row[peak])
            ++peak;
        else if (peak > 1 && row[peak - 1] > row[peak])
            --peak;
        else
            return peakBin(row, peak);
    }
}

// A kick's body sweeps down onto its pitch and dies there, where a bass note
// holds its pitch (and a glide its level). The swept kicks taken for the note
// had slid 0.7 to 3 bins since the frame before.
constexpr double ringSlideBins = 0.7;

bool isRing(const NoteMotion& motion, int bins, int peak)
{
    if (!motion.before || !motion.now || !motion.later || motion.later[peak] >= motion.now[peak])
        return false;
    return peakFrom(motion.before, bins, peak) - peakFrom(motion.now, bins, peak) >= ringSlideBins;
}

// From this partial on, the run of harmonics ends at one louder than the
// partial below: a bass's upper partials are weak, and a strong peak there is
// a pad's or a voice's that happens to fall on the note's multiple.
constexpr int fallingPartialsFrom = 5;

// The note at `peak` and the run of its harmonics that stand out of what
// lies halfway to their neighbours.
BassNote noteAt(const float* steady, int bins, int peak, const SeparationModel& model)
{
    BassNote note;
    note.bin = peakBin(steady, peak);
    const double here = steady[peak];
    const double contrast = model.bassHarmonicContrast;
    const double floorLevel = 1e-3 * here;
    int missed = 0;
    double below = here;
    for (int k = 2; k <= model.bassHarmonics + 1; ++k) {
        const double centre = k * note.bin;
        if (centre + note.bin / 2 >= bins - 1)
            break;
        const double level = std::max(at(steady, bins, centre), steady[static_cast<int>(std::lround(centre))]);
        if (k >= fallingPartialsFrom && level > below)
            break;
        below = level;
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

} // namespace

BassNote findBassNote(const float* steady, int bins, const SeparationModel& model, const MaskBands& bands,
    const NoteMotion& motion)
{
    const int first = std::max(1, static_cast<int>(std::ceil(model.bassNoteMinHz / bands.binHz)));
    const int end = std::min(bins - 1, bands.bassNoteBins);
    float strongest = 0;
    for (int bin = first; bin < end; ++bin)
        if (steady[bin] > steady[bin - 1] && steady[bin] >= steady[bin + 1])
            strongest = std::max(strongest, steady[bin]);
    if (strongest <= 0)
        return {};
    // The lowest tone of some strength: a bass's upper harmonics, or a chord
    // above it, may be louder than its fundamental. A ring is the note only
    // where nothing else is.
    int ring = 0;
    for (int bin = first; bin < end; ++bin) {
        if (!(steady[bin] > steady[bin - 1] && steady[bin] >= steady[bin + 1]
                && steady[bin] >= static_cast<float>(model.bassNoteLowestShare) * strongest))
            continue;
        if (!isRing(motion, bins, bin))
            return noteAt(steady, bins, bin, model);
        if (ring == 0)
            ring = bin;
    }
    return ring > 0 ? noteAt(steady, bins, ring, model) : BassNote{};
}

BassNote bassShares(const FrameNeighbourhood& frame, const float* harmonic, const float* percussive,
    const SeparationModel& model, const MaskBands& bands, MaskScratch& scratch)
{
    const int bins = frame.bins;
    const auto size = static_cast<std::size_t>(bins);
    scratch.bassShare.assign(bands.bass.begin(), bands.bass.end());
    scratch.bassClaim.assign(size, 0.0f);
    scratch.bassNoteLevel.assign(size, 0.0f);
    scratch.bassNotePartial.assign(size, 0.0f);
    if (model.bassHarmonics == 0 || bands.bassNoteBins < 3)
        return {};
    const int middle = frame.magnitudeRows / 2;
    const float* now = frame.magnitudes[middle];
    const float* next = frame.magnitudes[std::min(middle + 1, frame.magnitudeRows - 1)];
    // What holds for two frames or across the median's frames, less the kick's body.
    scratch.bassSteady.resize(size);
    const NoteMotion motion{middle > 0 ? frame.magnitudes[middle - 1] : nullptr, now,
        middle + 2 < frame.magnitudeRows ? frame.magnitudes[middle + 2] : nullptr};
    const auto findSteady = [&](bool lessKick) {
        for (int bin = 0; bin < bins; ++bin) {
            float value = std::max(harmonic[bin], std::min(now[bin], next[bin]));
            if (lessKick)
                value = std::max(0.0f, value - frame.kick[bin]);
            scratch.bassSteady[static_cast<std::size_t>(bin)] = value > percussive[bin] ? value : 0.0f;
        }
        return findBassNote(scratch.bassSteady.data(), bins, model, bands, motion);
    };
    BassNote note = findSteady(frame.kick != nullptr);
    // A kick's estimate may hold a note struck with it whole. A kick's
    // settled body is a lone partial; a run of overtones is a note's. Those
    // overtones may be the kick's sweep or a body sitting on them, though:
    // they only tell how the note falls, and it claims its fundamental alone.
    bool underKick = false;
    if (frame.kick && note.harmonics < seriesOvertones) {
        const BassNote whole = findSteady(false);
        if (whole.harmonics >= seriesOvertones) {
            note = whole;
            underKick = true;
        }
    }
    // A note struck with a kick hides under the kick's estimate in its first
    // frame, where the kick's sweep may cover its overtones too; the next two
    // frames, where the kick has died down, show it.
    const bool hidden = note.bin <= 0 || (frame.kick && note.harmonics < seriesOvertones);
    if (hidden && middle + 2 < frame.magnitudeRows) {
        const float* later = frame.magnitudes[middle + 2];
        for (int bin = 0; bin < bins; ++bin)
            scratch.bassSteady[static_cast<std::size_t>(bin)] = std::min(next[bin], later[bin]);
        const BassNote shown = findBassNote(scratch.bassSteady.data(), bins, model, bands);
        if (note.bin <= 0) {
            note = shown;
        } else if (shown.harmonics >= seriesOvertones) {
            note = shown;
            underKick = true;
        }
    }
    if (note.bin <= 0)
        return note;
    const double frameSeconds = model.hopSize / (bands.binHz * model.fftSize);
    const auto fadePerFrame = static_cast<float>(std::exp(frameSeconds / fastestNoteFadeSeconds));
    const std::array<float, maxNoteRows> envelope = noteEnvelope(frame, note, middle, fadePerFrame);
    const BassNote found = note;
    if (underKick)
        note.harmonics = 0;
    const double width = model.bassHarmonicWidthBins;
    const int holdRows = std::min(model.bassHoldFrames, frame.magnitudeRows - 1 - middle);
    double partialBelow = 0;
    for (int k = 1; k <= note.harmonics + 1; ++k) {
        const double centre = note.bin * k;
        // A plucked string's overtones fall away with their number. Above the
        // second, a partial louder than the one below holds something else
        // too (a voice, a chord): the bass takes of it what the one below has.
        const double level = std::max(at(now, bins, centre), now[std::min(bins - 1, static_cast<int>(std::lround(centre)))]);
        const float cap = k >= 3 && level > partialBelow ? static_cast<float>(partialBelow / level) : 1.0f;
        partialBelow = level;
        const int from = std::max(0, static_cast<int>(std::ceil(centre - width)));
        const int to = std::min(bins - 1, static_cast<int>(std::floor(centre + width)));
        for (int bin = from; bin <= to; ++bin) {
            // Whole within a bin of the centre, where a partial between two bins
            // still stands at full strength, then falling away.
            const auto weight = cap * static_cast<float>(std::clamp((width + 1.0 - std::abs(bin - centre)) / width, 0.0, 1.0));
            float& share = scratch.bassShare[static_cast<std::size_t>(bin)];
            share = std::max(share, weight);
            float& partial = scratch.bassNotePartial[static_cast<std::size_t>(bin)];
            partial = std::max(partial, weight);
            if (holdRows <= 0)
                continue;
            // A hit on the note takes what the note does not hold on with.
            float held = now[bin];
            for (int r = 1; r <= holdRows; ++r)
                held = std::min(held, frame.magnitudes[middle + r][bin]);
            float& claim = scratch.bassClaim[static_cast<std::size_t>(bin)];
            claim = std::max(claim, weight * held);
            // The frames ahead, each scaled back by how far the note has fallen
            // there; the middle of what they say, since a kick's tail beating
            // against the note dips some and lifts others.
            std::array<float, maxNoteRows> levels{};
            int count = 0;
            for (int r = 1; r < maxNoteRows && middle + r < frame.magnitudeRows; ++r)
                if (envelope[static_cast<std::size_t>(r)] > 0)
                    levels[static_cast<std::size_t>(count++)]
                        = frame.magnitudes[middle + r][bin] * envelope[static_cast<std::size_t>(r)];
            float level = 0;
            if (count > 0) {
                float* const middleLevel = levels.data() + count / 2;
                std::nth_element(levels.data(), middleLevel, levels.data() + count);
                level = *middleLevel;
            }
            float& noteLevel = scratch.bassNoteLevel[static_cast<std::size_t>(bin)];
            noteLevel = std::max(noteLevel, weight * std::min(level, now[bin]));
        }
    }
    return found;
}

} // namespace fotivela::stem_separator
