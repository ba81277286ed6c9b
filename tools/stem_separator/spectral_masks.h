#pragma once

#include "separation_model.h"

#include <fftw3.h>

#include <vector>

namespace fotivela::stem_separator {

// Per-bin band weights of one model at one sample rate.
struct MaskBands {
    std::vector<float> bass;  // 1 in the bass band, 0 above it
    std::vector<float> voice; // 1 in the voice band, 0 outside it
};
MaskBands makeMaskBands(const SeparationModel& model, int sampleRate);

// The neighbourhood of one frame the masks look at: magnitude rows of the
// harmonic median's frames (the frame itself in the middle) and the stereo
// spectra of the centre-similarity frames (likewise centred).
struct FrameNeighbourhood {
    const float* const* magnitudes = nullptr;
    int magnitudeRows = 0;
    const fftwf_complex* const* left = nullptr;
    const fftwf_complex* const* right = nullptr;
    int spectrumRows = 0;
    int bins = 0;
};

// Soft masks of the drums, bass and vocals for every bin of one frame; the
// other stem takes the rest, so the four always sum to one. `scratch` is
// reused between calls.
struct FrameMasks {
    std::vector<float> drums, bass, vocals;
};
void computeFrameMasks(const FrameNeighbourhood& frame, const SeparationModel& model, const MaskBands& bands,
    FrameMasks& masks, std::vector<float>& scratch);

// Median of each bin across rows, and across `width` neighbouring bins of one
// row (fewer at the spectrum's edges).
void medianAcrossRows(const float* const* rows, int rowCount, int bins, float* out, std::vector<float>& scratch);
void medianAcrossBins(const float* row, int bins, int width, float* out, std::vector<float>& scratch);

} // namespace fotivela::stem_separator
