#pragma once

#include "driven_kick_model.h"
#include "fft_plans.h"
#include "kick_tracker.h"

#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace fotivela::stem_separator {

class InputWindow;

// The bodies of the driven kicks a span's rows follow, each fitted once as a
// sine from the song's samples around it and carried on, as long as the
// tracker follows it, in the frames where a note may have come in over it.
// The fit reads song frames at fixed places about the kick, so a row gets the
// same body whichever span it is read in.
class ModelledKickBodies {
public:
    ModelledKickBodies(const KickTracker& kicks, const FftPlans& plans, int sampleRate, int hop);

    // Fits the kicks that rows [reach, rows − reach) follow. Row r's window
    // starts at song frame spanStart + r·hop; `magnitude`, `left` and `right`
    // hold the rows' magnitudes and spectra, `stride` values apart.
    void fit(const InputWindow& input, std::int64_t spanStart, int rows, int reach, const float* magnitude,
        const fftwf_complex* left, const fftwf_complex* right, int stride, const std::vector<std::uint8_t>& onsets,
        int workers);

    // Where `row` has a modelled body and the tracker follows a driven kick
    // there, the body in the kick band's bins becomes the fitted sine, and
    // the kick's magnitude its level, where the sine is consistent with them.
    void apply(int row, const fftwf_complex* left, const fftwf_complex* right, std::vector<float>& kick,
        KickTracker::Body& body) const;

private:
    // The shape's spectrum in the kick band of a frame whose window starts
    // `seconds` after its time 0.
    struct Frame {
        FftwArray<float> samples;
        FftwArray<fftwf_complex> spectrum;
    };
    void spectrumOf(const DrivenKickShape& shape, double seconds, Frame& frame, std::vector<std::complex<float>>& out) const;

    const KickTracker& m_kicks;
    const FftPlans& m_plans;
    int m_sampleRate;
    int m_hop;
    double m_binHz;
    LowBand m_band;
    std::vector<std::vector<std::complex<float>>> m_bodies; // by row, mid, empty where none
    std::vector<std::vector<std::uint8_t>> m_heldNote; // by row and bin
};

} // namespace fotivela::stem_separator
