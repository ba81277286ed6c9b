#include "spectral_masks.h"

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
    bands.bass.resize(static_cast<std::size_t>(bins));
    bands.voice.resize(static_cast<std::size_t>(bins));
    for (int bin = 0; bin < bins; ++bin) {
        const double hz = static_cast<double>(bin) * sampleRate / model.fftSize;
        bands.bass[static_cast<std::size_t>(bin)] = rampWeight(model.bassBand, hz);
        bands.voice[static_cast<std::size_t>(bin)] = rampWeight(model.voiceLow, hz) * rampWeight(model.voiceHigh, hz);
    }
    return bands;
}

void medianAcrossRows(const float* const* rows, int rowCount, int bins, float* out, std::vector<float>& scratch)
{
    scratch.resize(static_cast<std::size_t>(rowCount));
    for (int bin = 0; bin < bins; ++bin) {
        for (int row = 0; row < rowCount; ++row)
            scratch[static_cast<std::size_t>(row)] = rows[row][bin];
        out[bin] = medianOf(scratch.data(), rowCount);
    }
}

void medianAcrossBins(const float* row, int bins, int width, float* out, std::vector<float>& scratch)
{
    const int half = width / 2;
    scratch.resize(static_cast<std::size_t>(width));
    for (int bin = 0; bin < bins; ++bin) {
        const int from = std::max(0, bin - half);
        const int to = std::min(bins, bin + half + 1);
        std::copy(row + from, row + to, scratch.begin());
        out[bin] = medianOf(scratch.data(), to - from);
    }
}

void computeFrameMasks(const FrameNeighbourhood& frame, const SeparationModel& model, const MaskBands& bands,
    FrameMasks& masks, std::vector<float>& scratch)
{
    const int bins = frame.bins;
    const auto size = static_cast<std::size_t>(bins);
    masks.drums.resize(size);
    masks.bass.resize(size);
    masks.vocals.resize(size);

    // The drums' mask holds the percussive share; the harmonic one goes in masks.bass meanwhile.
    float* harmonic = masks.bass.data();
    float* percussive = masks.drums.data();
    medianAcrossRows(frame.magnitudes, frame.magnitudeRows, bins, harmonic, scratch);
    medianAcrossBins(frame.magnitudes[frame.magnitudeRows / 2], bins, model.percussiveMedianBins, percussive, scratch);

    const float power = static_cast<float>(model.maskPower);
    const float centrePower = static_cast<float>(model.centrePower);
    for (int bin = 0; bin < bins; ++bin) {
        const float p = std::pow(percussive[bin], power);
        const float h = std::pow(harmonic[bin], power);
        const float total = p + h;
        // Silence has no percussive share: it all falls to the other stem.
        const float drums = total > 1e-20f ? p / total : 0.0f;
        const float tonal = 1.0f - drums;

        double cross = 0;
        double energy = 0;
        for (int row = 0; row < frame.spectrumRows; ++row) {
            const fftwf_complex& l = frame.left[row][bin];
            const fftwf_complex& r = frame.right[row][bin];
            cross += static_cast<double>(l[0]) * r[0] + static_cast<double>(l[1]) * r[1];
            energy += static_cast<double>(l[0]) * l[0] + static_cast<double>(l[1]) * l[1]
                + static_cast<double>(r[0]) * r[0] + static_cast<double>(r[1]) * r[1];
        }
        // 1 where left and right agree (a centred source), 0 for wide, opposite or silent bins.
        const float similarity = energy > 1e-20 ? static_cast<float>(std::clamp(2.0 * cross / energy, 0.0, 1.0)) : 0.0f;
        const float centre = std::pow(similarity, centrePower);

        const float bass = tonal * bands.bass[static_cast<std::size_t>(bin)];
        const float vocals = (tonal - bass) * bands.voice[static_cast<std::size_t>(bin)] * centre;
        masks.drums[static_cast<std::size_t>(bin)] = drums;
        masks.bass[static_cast<std::size_t>(bin)] = bass;
        masks.vocals[static_cast<std::size_t>(bin)] = vocals;
    }
}

} // namespace fotivela::stem_separator
