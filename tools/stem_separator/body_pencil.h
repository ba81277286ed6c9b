#pragma once

#include <array>
#include <complex>
#include <optional>
#include <vector>

namespace fotivela::stem_separator {

// A driven kick's body ringing on under a held note of almost its pitch. No
// single frame tells them apart, and their beat puts the two out of reach of
// any 0–1 mask; but across frames each bin of their lobe is (nearly) a sum of
// two exponentials in the frame index, the body c1·z1^n dying away and the
// note c2·z2^n holding. Even where their pitches share a bin, their damping
// and the slow turn of one against the other tell the poles apart, and the
// bins of the lobe share them.
struct TwoPoles {
    std::complex<double> body; // the one dying away faster
    std::complex<double> note;
};

// The two poles the frames of `channels` series share, `values` frame by
// frame (frame f, channel c at f·channels + c). None where the frames do not
// hold two clear components.
std::optional<TwoPoles> fitTwoPoles(const std::vector<std::complex<double>>& values, int frames, int channels);

// Each pole's amplitude in one series of `frames` values `stride` apart, by
// least squares; `residual` gets the energy the two leave unexplained.
std::array<std::complex<double>, 2> poleAmplitudes(
    const TwoPoles& poles, const std::complex<double>* values, int frames, int stride, double& residual);

// A driven kick's body as fitted over the frames from `first` on: in each
// bin of the lobe from `lobeFirst`, each side's amplitude at `first`, dying
// away by `pole` a frame. It stands for the body from row `from` on. None
// where `first` is negative.
struct BodyFit {
    int first = -1;
    int from = 0;
    int lobeFirst = 0;
    std::complex<double> pole;
    std::vector<std::complex<double>> left, right;

    bool holds(int row) const { return first >= 0 && row >= from; }
};

} // namespace fotivela::stem_separator
