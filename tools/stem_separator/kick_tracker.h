#pragma once

#include "body_pencil.h"
#include "separation_model.h"

#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <vector>

namespace fotivela::stem_separator {

// Kicks under a bass line. A kick's pitch falls in its first tens of
// milliseconds and its body then dies away, often at the very pitch the bass
// plays: no single frame tells the two apart, but the sweep marks where a kick
// starts and the decay says how much of what follows is still the kick.
//
// A driven kick (an 808) is a long sine that sweeps down slowly and holds its
// level for a while: its body is everything new from the onset on, followed
// as it dies away and not lifted by a note that comes in over it. Once such a
// note comes in, the decay and turn the body showed before carry it on; where
// it comes in at almost the body's pitch, the two are told apart across
// frames as two poles that die away at different rates (see BodyFit).
//
// Works on the magnitude rows of a span of frames (one row per frame, `stride`
// values apart). A row's verdict depends only on rows within `reach()` of it,
// so the spans may be cut anywhere.
class KickTracker {
public:
    KickTracker(const SeparationModel& model, int sampleRate);

    bool enabled() const { return m_lookbackFrames > 0 && m_endBin > m_firstBin; }
    // Rows a caller needs on each side of the rows it asks about.
    // A driven kick landing on another is told by the one before it.
    int reach() const { return enabled() ? 3 * (m_lookbackFrames + onsetReachBefore + 1) : 0; }

    // onsets[r] = kickOnset where a kick starts at row r, drivenKickOnset where
    // a driven kick does, 0 elsewhere and where too near the span's ends to tell.
    static constexpr std::uint8_t kickOnset = 1;
    static constexpr std::uint8_t drivenKickOnset = 2;
    // Where `glides` is given, it marks the rows where a note glides in as a
    // kick's sweep would.
    void findOnsets(const float* magnitude, int stride, int rows, std::vector<std::uint8_t>& onsets,
        std::vector<std::uint8_t>* glides = nullptr) const;
    int firstBin() const { return m_firstBin; }
    int lookbackFrames() const { return m_lookbackFrames; }
    int endBin() const { return m_endBin; }

    // A note may ring steady under a driven kick's body where the bin fell by
    // less than this factor a frame before the onset, at this share of the
    // body's level or more: there the body dies away like a plain kick's.
    static constexpr float steadyNoteFading = 0.9f;
    static constexpr float steadyNoteLevel = 0.1f;

    // The kick's magnitude in every bin of `row` into `out` (0 outside the
    // kick band, and everywhere when no kick started within the look-back),
    // `left` and `right` being the rows' spectra, `stride` values apart like
    // the magnitudes; and a driven kick's body as each side's spectrum in
    // `row`: while it sweeps over a steady note that rang before, what the
    // bins hold besides that note, whose phase a 0–1 mask cannot follow;
    // elsewhere the bins' own share. Both sides are empty where no driven
    // kick is followed.
    struct Body {
        std::vector<std::complex<float>> left, right;
    };
    void kickSpectrum(const float* magnitude, const fftwf_complex* left, const fftwf_complex* right, int stride,
        int rows, int row, const std::vector<std::uint8_t>& onsets, const std::vector<BodyFit>& fits,
        std::vector<float>& out, Body& body) const;

    // Where a note comes in at almost a driven kick's pitch and rings on
    // under its body, the body over the frames of the two together, by the
    // driven onset's row (see BodyFit); read by kickSpectrum. A fit reads the
    // rows up to the next onset, at most the look-back past its own.
    void fitBodies(const float* magnitude, const fftwf_complex* left, const fftwf_complex* right, int stride,
        int rows, const std::vector<std::uint8_t>& onsets, std::vector<BodyFit>& fits) const;

private:
    static constexpr int onsetReachBefore = 3; // rows before an onset its test and model read
    static constexpr int onsetReachAfter = 8;
    // A driven kick: what is new at its onset sits this many times higher
    // than three frames on; its pitch falls by no more than the step from one
    // frame to the next in the first three, by the late fall from the third
    // to the sixth and by the whole fall over six; and six frames in its level
    // is still this share of its loudest in the first four.
    static constexpr double drivenRiseRatio = 2.5;
    static constexpr double drivenSweepRatio = 1.2;
    // Landing on a driven kick's held body, its pitch need fall only this much.
    static constexpr double drivenOnHeldSweepRatio = 1.15;
    static constexpr double drivenSweepMaxStepHz = 32.0;
    static constexpr double drivenSweepLateFallHz = 3.0;
    static constexpr double drivenSweepFallHz = 16.0;
    static constexpr double drivenHeldLevel = 0.5;
    // Drive holds a body up: it dies away this slowly at most.
    static constexpr double drivenLongestDecaySeconds = 1.5;
    // The body followed is the least the bins held from frame to frame, and a
    // note beating against it pulls that below the body: lift it this much.
    static constexpr float drivenBodyLift = 1.25f;
    // A note coming in over the body: the body's decay is fitted to the
    // frames from this one after the sweep (the pitch still settles before)
    // up to these many before the level left its line, at least this many
    // of them. The level leaves its line where it moves off the slope of the
    // frames before by more than this (log level), or rises.
    static constexpr int fitFirstFrame = 3;
    static constexpr int fitLeastFrames = 5;
    static constexpr int entryMarginFrames = 2;
    static constexpr int slopeFrames = 3;
    static constexpr double entryTolerance = 0.04;
    // A driven body's decay quickens as the drive lets go of it.
    static constexpr double drivenDecayQuickening = 1.5;
    // The fitted body is carried on in phase this many frames past the fit,
    // turning as the last frames turned, each two frames against the two
    // before, the change shrinking by this much a frame; then by its level
    // alone.
    static constexpr int inPhaseFrames = 16;
    static constexpr int turnFrames = 2;
    static constexpr double settlingShrink = 0.6;
    // An earlier kick's decay is read over these many frames before the
    // onset; it rings on dying away so in bins where it holds this share of
    // what rang before, and wherever its share is carried on.
    static constexpr int earlierDecayFrames = 2;
    static constexpr float earlierKickShare = 0.5f;
    // A note coming in over a driven body: the lobe is the body's peak bin
    // and these many each side. From this many frames after the sweep on,
    // when the body has settled, the first run of frames (these many, at
    // least these many before the next onset) that two poles explain but
    // for this share gives the body; none if the very first run is so
    // explained, as then nothing came in. The body must die away as a
    // driven one does, the note hold, the two die away this much apart a
    // frame (only that says which is which), neither outweigh the lobe's
    // loudest frame this many times, the body hold this share of the lobe
    // where the run starts, and a note turning within this much of the body
    // a frame this share. The body stands from these many frames before the
    // run, where the note was coming in.
    static constexpr int pencilLobeBins = 2;
    static constexpr int pencilFromFrame = 8;
    static constexpr int pencilFrames = 24;
    static constexpr int pencilLeastFrames = 10;
    static constexpr double pencilWorstResidual = 0.003;
    static constexpr double pencilBodyLeast = 0.9;
    static constexpr double pencilBodyMost = 0.99;
    static constexpr double pencilNoteLeast = 0.95;
    static constexpr double pencilNoteMost = 1.02;
    static constexpr double pencilDampingGap = 0.015;
    static constexpr double pencilMostOfLobe = 1.25;
    static constexpr double pencilBodyLeastShare = 0.25;
    static constexpr double pencilBesideTurn = 0.4;
    static constexpr double pencilNoteLeastShare = 0.1;
    static constexpr int pencilLeadFrames = 4;
    // A body still sweeping down turns slower a frame the later it is
    // fitted: fitted again from these many frames on, where that leaves
    // these many frames at least (fewer tell a pole too loosely), its pole
    // must turn within this much (radians a frame) of the first.
    static constexpr int pencilSettledShift = 5;
    static constexpr int pencilSettledFrames = 16;
    static constexpr double pencilSettledTurn = 0.1;
    // A fitted body is followed this many frames past the look-back, where
    // no onset came in between, but not in the last these many before the
    // next one: its rise must stand clear for its marker.
    static constexpr int pencilBeyondFrames = 24;
    static constexpr int pencilClearFrames = 4;

    double lowEnergy(const float* row) const;
    enum class DrivenSweep { none, sweepOnly, holding };
    DrivenSweep drivenSweep(const float* magnitude, int stride, int row) const;
    struct Rows {
        const float* magnitude;
        const fftwf_complex* left;
        const fftwf_complex* right;
        int stride;
        int count;
        const std::vector<BodyFit>* fits = nullptr;
    };
    void kickAt(const Rows& rows, int row, const std::vector<std::uint8_t>& onsets, std::vector<float>& out,
        int depth, Body* body) const;
    int fitDecay(const std::vector<float>& seen, std::size_t width, int frames,
        const std::vector<std::uint8_t>& steadyNote, std::size_t firstBin, std::vector<float>& body) const;
    void drivenKickMagnitude(const Rows& rows, int onset, int row, const std::vector<float>& earlierKick,
        const std::vector<float>& earlierStill, std::vector<float>& out, Body* body) const;
    BodyFit fitBody(const Rows& rows, int onset, int end) const;
    void fittedBody(const Rows& rows, const BodyFit& fit, int row, std::vector<float>& out, Body* body) const;

    int m_firstBin = 0;
    int m_endBin = 0;
    int m_bins = 0;
    int m_lookbackFrames = 0;
    double m_riseRatio = 0;
    double m_sweepRatio = 0;
    double m_slowestDecay = 0; // per frame, amplitude
    double m_fastestDecay = 0;
    double m_longTail = 0; // squared decay per frame past which a body must show its sweep
    double m_binHz = 0;
    double m_drivenDecay = 0; // per frame, amplitude
};

} // namespace fotivela::stem_separator
