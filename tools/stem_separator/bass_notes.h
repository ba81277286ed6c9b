#pragma once

#include "spectral_masks.h"

#include <vector>

namespace fotivela::stem_separator {

// The bass note of one frame: where its fundamental lies, in bins (fractional;
// 0 = no note), and how many harmonics above it the frame shows.
struct BassNote {
    double bin = 0;
    int harmonics = 0;
};

// The magnitudes of the frame before, the frame itself and the frame two on,
// where a tone's motion is judged (any may be null: no tone is passed over).
struct NoteMotion {
    const float* before = nullptr;
    const float* now = nullptr;
    const float* later = nullptr;
};

// The lowest strong tone between bassNoteMinHz and bassNoteMaxHz of `steady`
// (what of the frame is not a hit), and the run of its harmonics, up to
// bassHarmonics, that stand out of the spectrum between them. A tone that
// has just slid down onto its pitch and is dying away is a kick's ring: a
// stronger tone above it is the note.
BassNote findBassNote(const float* steady, int bins, const SeparationModel& model, const MaskBands& bands,
    const NoteMotion& motion = {});

// Per bin, how much of it the bass may hold (0 to 1): the bass band widened by
// the note's harmonics, in scratch.bassShare. Where the note lies,
// scratch.bassClaim is the magnitude the note holds on with over the next
// frames, which no hit takes from it (0 elsewhere), and scratch.bassNoteLevel
// its level in this frame, followed back from the frames ahead by how its
// overtones fall (0 where they cannot tell), and scratch.bassNotePartial how
// much of the bin lies on the note's partials (0 to 1). Returns the note.
BassNote bassShares(const FrameNeighbourhood& frame, const float* harmonic, const float* percussive,
    const SeparationModel& model, const MaskBands& bands, MaskScratch& scratch);

} // namespace fotivela::stem_separator
