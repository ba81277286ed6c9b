#pragma once

#include "bass_partial.h"
#include "median_network.h"
#include "separation_model.h"

#include <fftw3.h>

#include <vector>

namespace fotivela::stem_separator {

// What the masks of one model at one sample rate share: per-bin band weights
// and the median networks.
struct MaskBands {
    std::vector<float> bass;  // 1 in the bass band, 0 above it
    std::vector<float> voice; // 1 in the voice band, 0 outside it
    double binHz = 0;
    int bassNoteBins = 0;     // the bass note is looked for in bins [1, bassNoteBins)
    MedianNetwork acrossFrames{1};
    MedianNetwork acrossBins{1};
    // The bass band's own across-frames median, over bins [0, bassMedianBins) (none when 0).
    MedianNetwork bassAcrossFrames{1};
    int bassMedianBins = 0;
    // Likewise across bins, over bins [0, bassPercussiveBins).
    MedianNetwork bassAcrossBins{1};
    int bassPercussiveBins = 0;
};
MaskBands makeMaskBands(const SeparationModel& model, int sampleRate);

// A worker's reusable buffers.
struct MaskScratch {
    std::vector<float> values;
    std::vector<float> bassShare, bassClaim, bassNoteLevel, bassNotePartial, bassSteady;
    std::vector<float> bassHarmonic, bassPercussive;
    NotePartials notePartials;
    std::vector<float*> columns;
};

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
    // The kick's magnitude per bin in this frame, or null.
    const float* kick = nullptr;
    // The kick's own spectrum is taken out before the masks apply: they share
    // out what it leaves.
    bool kickTakenOut = false;
    // Per bin, the most of it a bass note may hold (negative where nothing is
    // known), or null: what is left is a kick's.
    const float* lasting = nullptr;
    // Per bin, what a note gliding in holds, or null.
    const float* glide = nullptr;
};

// Soft masks of the drums, bass and vocals for every bin of one frame; the
// other stem takes the rest, so the four always sum to one. `scratch` is
// reused between calls.
struct FrameMasks {
    std::vector<float> drums, bass, vocals;
};
void computeFrameMasks(const FrameNeighbourhood& frame, const SeparationModel& model, const MaskBands& bands,
    FrameMasks& masks, MaskScratch& scratch);

// Median of each bin across the network's count of rows, and across that many
// neighbouring bins of one row (fewer at the spectrum's edges).
void medianAcrossRows(const MedianNetwork& network, const float* const* rows, int bins, float* out, MaskScratch& scratch);
void medianAcrossBins(const MedianNetwork& network, const float* row, int bins, float* out, MaskScratch& scratch);

} // namespace fotivela::stem_separator
