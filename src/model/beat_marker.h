#pragma once

#include "model/auto_beat_instrument.h"
#include "model/stored_enum.h"
#include "platform/uuid.h"

#include <optional>
#include <set>

namespace fotivela {

enum class BeatKind { strong, weak, bar };

template <>
struct StoredEnum<BeatKind> {
    static constexpr std::array<std::pair<BeatKind, std::string_view>, 3> table{{
        {BeatKind::strong, "strong"},
        {BeatKind::weak, "weak"},
        {BeatKind::bar, "bar"},
    }};
};

// Every kind: the targets a new song starts with.
inline const std::set<BeatKind>& syncSelectableKinds()
{
    static const std::set<BeatKind> kinds{BeatKind::strong, BeatKind::weak, BeatKind::bar};
    return kinds;
}

// A point on the song that a slide can start at.
struct BeatMarker {
    Uuid id;
    double time = 0.0;
    double strength = 0.0;
    BeatKind kind = BeatKind::strong;
    bool isEnabled = true;
    bool isManual = false;
    std::optional<AutoBeatInstrument> sourceInstrument;
    // Attack markers only: the time detection found the hit at. An override record of a moved
    // marker keeps it, so that a new detection finds the hit the marker was moved from.
    std::optional<double> detectedTime;

    friend bool operator==(const BeatMarker&, const BeatMarker&) = default;
};

} // namespace fotivela
