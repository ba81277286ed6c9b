#pragma once

namespace fotivela::stem_separator {

// A note that glides down into its pitch, say from the octave above, sweeps
// like a kick's body in its first frames. It is told apart by what follows:
// it lands on a harmonic series, its octave above the fundamental, and holds
// its level, where a kick's body is a bare sine that dies away. A kick struck
// with such a note still shows what of it died away.
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

} // namespace fotivela::stem_separator
