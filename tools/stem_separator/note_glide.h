#pragma once

#include <cstdint>
#include <vector>

namespace fotivela::stem_separator {

// A note that glides down into its pitch, say from the octave above, sweeps
// like a kick's body in its first frames. It is told apart by its harmonics
// sliding down with it, and by what follows: it lands on a harmonic series
// and holds its level, where a kick's body is a bare sine that dies away. A
// kick struck with a note still shows what of it died away, or a peak on the
// note's own partials.
struct GlideProbe {
    const float* magnitude = nullptr; // rows `stride` values apart
    int stride = 0;
    int onset = 0; // row where the sweep starts
    int firstBin = 0; // the band the sweep was found in
    int endBin = 0;
    int bins = 0;
};

// Needs rows from two before the onset to six after it.
bool glidesIntoNote(const GlideProbe& probe);

// While a note glides in, its pitch moves too fast for any median to hold
// it: what it brought over what rang before is the note's, from the frame
// whose window first reaches it until it has landed. `glides` marks the rows
// where notes glide in; `out` is that level per bin for `row`, empty where
// no note glides in.
void glidingNoteLevel(const float* magnitude, int stride, int rows, int row, int firstBin, int endBin, int bins,
    const std::vector<std::uint8_t>& glides, std::vector<float>& out);

} // namespace fotivela::stem_separator
