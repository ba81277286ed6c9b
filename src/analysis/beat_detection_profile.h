#pragma once

#include "model/audio_track.h"

#include <cstdint>

namespace fotivela {

// The tuning of the marker detector: one profile per instrument, one for the
// attack markers of the whole mix.
struct BeatDetectionProfile {
    double wEnvelope = 0;
    double wFlux = 0;
    double wContrast = 0;
    double stdMultiplier = 0;
    double levelBase = 0;
    double levelSensitivity = 0;
    double fluxBase = 0;
    double fluxSensitivity = 0;
    double minContrast = 0;
    int64_t meanHalfWindow = 0;
    double spacingBase = 0;
    double spacingSensitivity = 0;
    double spacingFloor = 0;
    double strongPercentile = 0;
    bool allowFluxOverride = false;
    bool refineOnset = false;
    double backtrackSeconds = 0;
    int64_t backtrackMaxFrames = 0;

    bool operator==(const BeatDetectionProfile&) const = default;

    static BeatDetectionProfile instrument(AutoBeatInstrument instrument);
    static BeatDetectionProfile attack();
};

} // namespace fotivela
