#include "analysis/beat_detection_profile.h"

namespace fotivela {

namespace {

// Drums, bass, vocals and other share one tuning; the drum-stem parts and the
// whole-mix attack markers each have their own.
constexpr BeatDetectionProfile kStemProfile {
    0.18, 0.62, 0.2, 0.68, 0.11, 0.085, 0.1, 0.07, 0.025, 7, 0.18, 0.12, 0.055, 0.66, true, true, 0.11, 7,
};
constexpr BeatDetectionProfile kKickProfile {
    0.46, 0.38, 0.16, 1.08, 0.2, 0.14, 0.16, 0.08, 0.07, 12, 0.42, 0.22, 0.16, 0.66, false, true, 0.18, 8,
};
constexpr BeatDetectionProfile kClapSnareProfile {
    0.18, 0.58, 0.24, 0.7, 0.13, 0.1, 0.12, 0.07, 0.06, 8, 0.24, 0.15, 0.075, 0.68, false, true, 0.12, 6,
};
constexpr BeatDetectionProfile kCymbalHatsProfile {
    0.12, 0.58, 0.3, 0.62, 0.1, 0.08, 0.1, 0.06, 0.055, 6, 0.18, 0.11, 0.05, 0.72, false, true, 0.1, 5,
};
constexpr BeatDetectionProfile kAttackProfile {
    0.08, 0.76, 0.16, 0.58, 0.08, 0.06, 0.08, 0.055, 0.04, 5, 0.16, 0.1, 0.045, 0.65, false, true, 0.1, 5,
};

} // namespace

BeatDetectionProfile BeatDetectionProfile::instrument(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::kick:
        return kKickProfile;
    case AutoBeatInstrument::clapSnare:
        return kClapSnareProfile;
    case AutoBeatInstrument::cymbalHats:
        return kCymbalHatsProfile;
    case AutoBeatInstrument::drums:
    case AutoBeatInstrument::bass:
    case AutoBeatInstrument::vocals:
    case AutoBeatInstrument::other:
        break;
    }
    return kStemProfile;
}

BeatDetectionProfile BeatDetectionProfile::attack()
{
    return kAttackProfile;
}

} // namespace fotivela
