#include "spectral_masks.h"

#include "bass_notes.h"
#include "bass_partial.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

// 0 at ramp.fromHz, 1 at ramp.toHz, smooth in between; flat outside.
float rampWeight(const FrequencyRamp& ramp, double hz)
{
    const double x = std::clamp((hz - ramp.fromHz) / (ramp.toHz - ramp.fromHz), 0.0, 1.0);
    return static_cast<float>(x * x * (3.0 - 2.0 * x));
}

// Whole exponents up to four are the usual ones: spare them std::pow.
float raised(float value, float power)
{
    if (power == 2.0f)
        return value * value;
    if (power == 3.0f)
        return value * value * value;
    if (power == 4.0f) {
        const float square = value * value;
        return square * square;
    }
    return std::pow(value, power);
}

// How alike the sides are over the frame's centre rows in bins [from, to):
// 1 where left and right agree (a centred source), 0 for wide, opposite or
// silent bins.
float centredShare(const FrameNeighbourhood& frame, int from, int to)
{
    float cross = 0;
    float energy = 0;
    for (int row = 0; row < frame.spectrumRows; ++row)
        for (int bin = from; bin < to; ++bin) {
            const fftwf_complex& l = frame.left[row][bin];
            const fftwf_complex& r = frame.right[row][bin];
            cross += l[0] * r[0] + l[1] * r[1];
            energy += l[0] * l[0] + l[1] * l[1] + r[0] * r[0] + r[1] * r[1];
        }
    return energy > 1e-20f ? std::clamp(2.0f * cross / energy, 0.0f, 1.0f) : 0.0f;
}

// A fundamental this many times louder than the sound halfway to the
// partials each side of it stands out as the note's own.
constexpr float standingOut = 2.0f;

// A chorus or a stereo patch spreads a bass note across the sides, its
// overtones with its fundamental. How wide the fundamental is, raised to
// `power`, tells how far what is wide on the note's partials is still the
// bass's (0 to 1): none for a centred note, whose partials leave wide sound
// to others, and none where the fundamental hardly stands out of wide sound
// spread through the low band (a keyboard's, a reverb's).
float noteSpread(const FrameNeighbourhood& frame, const BassNote& note, float power)
{
    if (note.bin <= 0)
        return 0.0f;
    const int bins = frame.bins;
    const float* now = frame.magnitudes[frame.magnitudeRows / 2];
    const auto valueAt = [&](double bin) {
        const int below = std::clamp(static_cast<int>(std::floor(bin)), 0, bins - 1);
        const int above = std::min(below + 1, bins - 1);
        return now[below] + static_cast<float>(bin - below) * (now[above] - now[below]);
    };
    const int peak = std::clamp(static_cast<int>(std::lround(note.bin)), 0, bins - 1);
    const float level = std::max(valueAt(note.bin), now[peak]);
    if (level <= 0)
        return 0.0f;
    const float around = 0.5f * (valueAt(0.5 * note.bin) + valueAt(1.5 * note.bin));
    const float standing = std::clamp(1.0f - standingOut * around / level, 0.0f, 1.0f);
    const float centred = centredShare(frame, std::max(0, peak - 1), std::min(bins, peak + 2));
    return standing * (1.0f - raised(centred, power));
}

float medianOf(float* values, int count)
{
    float* middle = values + count / 2;
    std::nth_element(values, middle, values + count);
    return *middle;
}

} // namespace

MaskBands makeMaskBands(const SeparationModel& model, int sampleRate)
{
    const int bins = model.fftSize / 2 + 1;
    MaskBands bands;
    bands.acrossFrames = MedianNetwork(model.harmonicMedianFrames);
    bands.acrossBins = MedianNetwork(model.percussiveMedianBins);
    bands.binHz = static_cast<double>(sampleRate) / model.fftSize;
    bands.bassNoteBins = std::min(bins - 1, static_cast<int>(model.bassNoteMaxHz / bands.binHz) + 1);
    bands.bass.resize(static_cast<std::size_t>(bins));
    bands.voice.resize(static_cast<std::size_t>(bins));
    for (int bin = 0; bin < bins; ++bin) {
        const double hz = static_cast<double>(bin) * sampleRate / model.fftSize;
        bands.bass[static_cast<std::size_t>(bin)] = rampWeight(model.bassBand, hz);
        bands.voice[static_cast<std::size_t>(bin)] = rampWeight(model.voiceLow, hz) * rampWeight(model.voiceHigh, hz);
        if (bands.bass[static_cast<std::size_t>(bin)] > 0)
            bands.bassMedianBins = bin + 1;
    }
    if (model.bassPercussiveMedianBins > 0 && model.bassPercussiveMedianBins != model.percussiveMedianBins) {
        bands.bassAcrossBins = MedianNetwork(model.bassPercussiveMedianBins);
        bands.bassPercussiveBins = bands.bassMedianBins;
    }
    if (model.bassMedianFrames > 0 && model.bassMedianFrames != model.harmonicMedianFrames)
        bands.bassAcrossFrames = MedianNetwork(model.bassMedianFrames);
    else
        bands.bassMedianBins = 0;
    return bands;
}

void medianAcrossRows(const MedianNetwork& network, const float* const* rows, int bins, float* out, MaskScratch& scratch)
{
    const int count = network.count();
    scratch.values.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(bins));
    scratch.columns.resize(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) {
        float* column = scratch.values.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(bins);
        std::copy(rows[row], rows[row] + bins, column);
        scratch.columns[static_cast<std::size_t>(row)] = column;
    }
    network.apply(scratch.columns.data(), bins, out);
}

void medianAcrossBins(const MedianNetwork& network, const float* row, int bins, float* out, MaskScratch& scratch)
{
    const int width = network.count();
    const int half = width / 2;
    // Bins with a full neighbourhood go through the network, shifted copies of the row as its columns.
    const int inner = std::max(0, bins - 2 * half);
    scratch.values.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(std::max(inner, width)));
    scratch.columns.resize(static_cast<std::size_t>(width));
    for (int shift = 0; shift < width && inner > 0; ++shift) {
        float* column = scratch.values.data() + static_cast<std::size_t>(shift) * static_cast<std::size_t>(inner);
        std::copy(row + shift, row + shift + inner, column);
        scratch.columns[static_cast<std::size_t>(shift)] = column;
    }
    if (inner > 0)
        network.apply(scratch.columns.data(), inner, out + half);
    // The edges take what neighbours they have.
    float* window = scratch.values.data();
    for (int bin = 0; bin < bins; ++bin) {
        if (bin == half && inner > 0)
            bin = half + inner;
        if (bin >= bins)
            break;
        const int from = std::max(0, bin - half);
        const int to = std::min(bins, bin + half + 1);
        std::copy(row + from, row + to, window);
        out[bin] = medianOf(window, to - from);
    }
}

void computeFrameMasks(const FrameNeighbourhood& frame, const SeparationModel& model, const MaskBands& bands,
    FrameMasks& masks, MaskScratch& scratch)
{
    const int bins = frame.bins;
    const auto size = static_cast<std::size_t>(bins);
    masks.drums.resize(size);
    masks.bass.resize(size);
    masks.vocals.resize(size);

    // The drums' mask holds the percussive share; the harmonic one goes in masks.bass meanwhile.
    float* harmonic = masks.bass.data();
    float* percussive = masks.drums.data();
    medianAcrossRows(bands.acrossFrames, frame.magnitudes, bins, harmonic, scratch);
    if (const int low = std::min(bands.bassMedianBins, bins); low > 0) {
        // Under the bass band the shorter median takes over, blended across the band's ramp.
        scratch.bassHarmonic.resize(static_cast<std::size_t>(low));
        const int skip = (frame.magnitudeRows - bands.bassAcrossFrames.count()) / 2;
        medianAcrossRows(bands.bassAcrossFrames, frame.magnitudes + skip, low, scratch.bassHarmonic.data(), scratch);
        for (int bin = 0; bin < low; ++bin) {
            const float weight = bands.bass[static_cast<std::size_t>(bin)];
            harmonic[bin] += weight * (scratch.bassHarmonic[static_cast<std::size_t>(bin)] - harmonic[bin]);
        }
    }
    medianAcrossBins(bands.acrossBins, frame.magnitudes[frame.magnitudeRows / 2], bins, percussive, scratch);
    if (const int low = std::min(bands.bassPercussiveBins, bins); low > 0) {
        const int reach = std::min(bins, low + bands.bassAcrossBins.count() / 2);
        scratch.bassPercussive.resize(static_cast<std::size_t>(reach));
        medianAcrossBins(bands.bassAcrossBins, frame.magnitudes[frame.magnitudeRows / 2], reach,
            scratch.bassPercussive.data(), scratch);
        for (int bin = 0; bin < low; ++bin) {
            const float weight = bands.bass[static_cast<std::size_t>(bin)];
            percussive[bin] += weight * (scratch.bassPercussive[static_cast<std::size_t>(bin)] - percussive[bin]);
        }
    }

    const BassNote note = bassShares(frame, harmonic, percussive, model, bands, scratch);
    followNotePartials(frame, note, model, scratch.notePartials);
    const float power = static_cast<float>(model.maskPower);
    const float centrePower = static_cast<float>(model.centrePower);
    const float bassCentrePower = static_cast<float>(model.bassCentrePower);
    const float margin = static_cast<float>(model.lowTransientMargin);
    const float spread = bassCentrePower > 0 ? noteSpread(frame, note, bassCentrePower) : 0.0f;
    for (int bin = 0; bin < bins; ++bin) {
        const float p = raised(percussive[bin], power);
        const float h = raised(harmonic[bin], power);
        const float total = p + h;
        // Silence has no percussive share: it all falls to the other stem.
        float drums = total > 1e-20f ? p / total : 0.0f;
        const float magnitude = frame.magnitudes[frame.magnitudeRows / 2][bin];
        const float steady = margin * harmonic[bin];
        if (margin > 0 && magnitude > steady)
            drums = std::max(drums, bands.bass[static_cast<std::size_t>(bin)] * (magnitude - steady) / magnitude);
        // What a bass note holds on with is no passing hit's. Where the bin is
        // not rising, no hit starts in it, and a fading note holds its level
        // as its overtones tell, not only what the next frames keep of it.
        const float claim = scratch.bassClaim[static_cast<std::size_t>(bin)];
        const float* before = frame.magnitudes[std::max(0, frame.magnitudeRows / 2 - 1)];
        const float held = magnitude <= before[bin]
            ? std::max(claim, scratch.bassNoteLevel[static_cast<std::size_t>(bin)])
            : claim;
        if (held > 0 && magnitude > 0)
            drums = std::min(drums, std::max(0.0f, 1.0f - held / magnitude));
        // A plain kick's body dies away, so where the note holds on with more
        // than the kick's estimate, what it holds on with is the note's. Where
        // the kick is the louder, the hold still carries its tail; a driven
        // kick's held body looks like a note and is taken out whole.
        if (frame.kick && frame.kick[bin] > 0 && magnitude > 0) {
            float body = frame.kick[bin];
            if (!frame.kickTakenOut && claim >= body)
                body = std::min(body, std::max(0.0f, magnitude - claim));
            // A plain kick's estimate may hold a note struck with it; what the
            // note's overtones say it holds is the note's.
            const float noteLevel = scratch.bassNoteLevel[static_cast<std::size_t>(bin)];
            if (!frame.kickTakenOut && noteLevel > 0)
                body = std::min(body, std::max(0.0f, magnitude - noteLevel));
            const float kick = std::min(1.0f, body / magnitude);
            drums = std::max(drums, kick);
            if (frame.kickTakenOut)
                drums = kick < 1.0f ? (drums - kick) / (1.0f - kick) : 0.0f;
        }
        // A driven kick's body is taken out whole, in phase, before the masks.
        if (frame.kick && frame.kick[bin] > 0 && !frame.kickTakenOut)
            drums = drumsUnderKickOnNotePartial(scratch.notePartials, bin, drums);
        // Around a plain kick, what no note lasts with is the kick's.
        if (frame.lasting && frame.lasting[bin] >= 0 && magnitude > 0 && !frame.kickTakenOut)
            drums = std::max(drums, 1.0f - frame.lasting[bin] / magnitude);
        // A note gliding in is no hit, however fast its pitch moves.
        if (frame.glide && frame.glide[bin] > 0 && magnitude > 0)
            drums = std::min(drums, std::max(0.0f, 1.0f - frame.glide[bin] / magnitude));
        const float tonal = 1.0f - drums;

        const float similarity = centredShare(frame, bin, bin + 1);
        const float centre = raised(similarity, centrePower);

        float bass = tonal * scratch.bassShare[static_cast<std::size_t>(bin)];
        if (bassCentrePower > 0) {
            const float centred = raised(similarity, bassCentrePower);
            bass *= centred + spread * scratch.bassNotePartial[static_cast<std::size_t>(bin)] * (1.0f - centred);
        }
        const float vocals = (tonal - bass) * bands.voice[static_cast<std::size_t>(bin)] * centre;
        masks.drums[static_cast<std::size_t>(bin)] = drums;
        masks.bass[static_cast<std::size_t>(bin)] = bass;
        masks.vocals[static_cast<std::size_t>(bin)] = vocals;
    }
}

} // namespace fotivela::stem_separator
