#pragma once

#include <filesystem>
#include <string>

namespace fotivela::stem_separator {

// A smooth 0-to-1 step in frequency: 0 at `fromHz`, 1 at `toHz` (a falling
// step when toHz < fromHz).
struct FrequencyRamp {
    double fromHz = 0;
    double toHz = 0;

    friend bool operator==(const FrequencyRamp&, const FrequencyRamp&) = default;
};

// The separation parameters of one model file. A new parameter set is a new
// version, and the application keys its stem cache on that version.
struct SeparationModel {
    std::string version;
    int fftSize = 4096;
    int hopSize = 1024;
    // Median lengths: across frames (keeps steady tones) and across bins (keeps hits).
    int harmonicMedianFrames = 17;
    int percussiveMedianBins = 17;
    // Across-frames median length under the bass band (0 = the same as
    // above it): bass notes change faster than chords, and a median long
    // enough to hold a pad through drum hits takes quick notes for hits.
    int bassMedianFrames = 0;
    // Across-bins median length under the bass band (0 = the same as above
    // it): a kick's body low down is only a few bins wide, and a median as
    // wide as the one above takes it for a steady tone.
    int bassPercussiveMedianBins = 0;
    // Exponent of the harmonic/percussive soft mask.
    double maskPower = 3.0;
    // Bass: harmonic energy under a falling ramp.
    FrequencyRamp bassBand{300.0, 150.0};
    // The bass's overtones reach above its band: the strongest steady tone up to
    // this frequency is taken as the bass note, and this many of its harmonics
    // (0 = none) go to the bass too, each `bassHarmonicWidthBins` wide each side.
    double bassNoteMaxHz = 130.0;
    int bassHarmonics = 4;
    double bassHarmonicWidthBins = 0.75;
    // The note is the lowest steady tone from bassNoteMinHz at least this
    // share of the strongest; its harmonics count while each stands this many
    // times above the spectrum halfway to its neighbours (two missing end them).
    double bassNoteMinHz = 25.0;
    double bassNoteLowestShare = 1.0;
    double bassHarmonicContrast = 0;
    // What the note holds on with over this many frames is kept from the
    // drums (0 = off): a hit on a note is gone by then, the note is not.
    int bassHoldFrames = 0;
    // A kick over a held bass note looks steady across bins: in the bass band,
    // magnitude above this many times the across-frames median is taken as a
    // hit and goes to the drums (0 = off).
    double lowTransientMargin = 1.2;
    // Drum sound this far below a hit that follows within the look-ahead is
    // the mask's echo of what came before the hit: it goes to the other stem
    // (a look-ahead of 0 = off).
    double preEchoLookaheadMs = 45.0;
    double preEchoRatioDb = 10.0;
    // Below about this frequency what is moved goes to the bass instead
    // (0 = none): a kick's mask echoes the bass that played before it.
    double preEchoBassHz = 0;
    // Drum sound falling well below what the stem held this shortly before is
    // an earlier hit's ring or the dip of a low drum's wave, not the mask's
    // echo of the coming hit: it passes the drums' gate (0 = none).
    double preEchoTailMs = 0;
    // The same for the bass stem before a note (a look-ahead of 0 = off).
    double bassPreEchoLookaheadMs = 0;
    double bassPreEchoRatioDb = 10.0;
    // Kicks told from the bass by their falling pitch (see KickTracker), in
    // this band: a kick is followed this long at most (0 = off), starts where
    // the band's energy grows by `kickRiseRatio` within two frames while what
    // is new sits `kickSweepRatio` times higher than three frames later, and
    // dies away with a time constant between the shortest and longest given.
    FrequencyRamp kickBand{30.0, 200.0};
    double kickLookbackSeconds = 0;
    double kickRiseRatio = 4.0;
    double kickSweepRatio = 1.2;
    double kickShortestDecaySeconds = 0.03;
    double kickLongestDecaySeconds = 0.6;
    // Vocals: centred harmonic energy between a rising and a falling ramp.
    FrequencyRamp voiceLow{120.0, 220.0};
    FrequencyRamp voiceHigh{6000.0, 3500.0};
    // Exponent on the left/right similarity (1 = centre, 0 = wide or opposite).
    double centrePower = 4.0;
    // Exponent on the same similarity for the bass (0 = off): a bass sits in
    // the centre, so wide low sound (double-tracked guitars, pads) is not it.
    double bassCentrePower = 0;
    // Frames each side over which the left/right similarity is averaged.
    int centreSmoothingFrames = 2;
    // The bass's, vocals' and other stem's first masks refined by their power
    // shares (all 0 = off): each power is summed over this many frames before
    // and after and bins each side, and raised to `refineMaskPower`.
    int refineMaskFrames = 0;
    int refineMaskFramesAhead = 0;
    int refineMaskBins = 0;
    double refineMaskPower = 1.0;

    friend bool operator==(const SeparationModel&, const SeparationModel&) = default;
};

// Reads folder / (name + ".json"). Throws SeparationError with one line for a
// missing, unreadable or invalid file.
SeparationModel readSeparationModel(const std::filesystem::path& folder, const std::string& name);

// The same from the file's text; `what` names the file in messages.
SeparationModel parseSeparationModel(const std::string& text, const std::string& what);

} // namespace fotivela::stem_separator
