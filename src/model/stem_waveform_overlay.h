#pragma once

#include "model/auto_beat_instrument.h"

#include <vector>

namespace fotivela {

// One instrument's waveform drawn over the music lane; identified by its instrument.
struct StemWaveformOverlay {
    AutoBeatInstrument instrument = AutoBeatInstrument::drums;
    std::vector<double> samples;

    friend bool operator==(const StemWaveformOverlay&, const StemWaveformOverlay&) = default;
};

} // namespace fotivela
