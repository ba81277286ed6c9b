#pragma once

#include "separation_model.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fotivela::stem_separator {

// A bass note lasts; a plain kick's body dies within the kick's decay. Around
// a kick, what of a low bin neither rang before the kick and still rings past
// its sweep, nor still rings once its body has died, is the kick's however
// steady it looks over a few frames. A note struck with the kick may die as
// soon as the kick does: it is told by its own harmonics, which come in with
// it, where a kick's body has none.
//
// Works on the magnitude rows of a span of frames, like the kick tracker, and
// reads only rows within reach() of the row it is asked about.
class NotePersistence {
public:
    NotePersistence(const SeparationModel& model, int sampleRate);

    bool enabled() const { return m_endBin > m_firstBin; }
    int reach() const { return enabled() ? std::max(onsetRowsBefore + 2 + rangRows, 1 + diedRow) : 0; }

    // Per bin of `row`, the most of it a note may hold, from the magnitudes and
    // the kick tracker's onsets; negative outside the kick band. Left empty
    // where no plain kick starts near `row`.
    void lastingLevel(const float* magnitude, int stride, int rows, int row, const std::vector<std::uint8_t>& onsets,
        std::vector<float>& out) const;

private:
    // Rows from the frame before a kick's onset to the last before its body has died.
    static constexpr int onsetRowsBefore = 7;
    // What rang in the frame before the kick or the rows before it and still
    // rings this many rows in, at this share of its loudest since the onset
    // or more, is a note held or played again.
    static constexpr int rangRows = 4;
    static constexpr int stillRingingRow = 5;
    static constexpr float stillRingingShare = 0.5f;
    // By this row a plain kick's body has died.
    static constexpr int diedRow = 8;
    // A lasting level may stand this much above what is measured: a note's level wavers.
    static constexpr float lastingSlack = 1.3f;
    // A note's harmonics, looked for in these rows after the onset: this many
    // of the first three above the fundamental stand out of the spectrum
    // between them and have come in since before the onset.
    static constexpr int firstHarmonicRow = 2;
    static constexpr int lastHarmonicRow = 4;
    static constexpr int harmonicsLookedFor = 3;
    static constexpr int harmonicsNeeded = 2;
    static constexpr float harmonicContrast = 1.3f;
    static constexpr float harmonicRise = 2.0f;
    static constexpr double harmonicWidthBins = 2.0;

    bool harmonicNoteAt(const float* row, const float* before, double fundamental) const;

    int m_firstBin = 0;
    int m_endBin = 0;
    int m_lowestBin = 0; // the lowest fundamental looked for
    int m_bins = 0;
};

} // namespace fotivela::stem_separator
