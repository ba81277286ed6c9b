#pragma once

#include "model/auto_beat_instrument.h"
#include "model/slide_edit_kinds.h"

#include <QColor>
#include <QString>

namespace fotivela {

// The part of a photo-lane slide under the pointer.
enum class TimelinePointerRegion { none, leftResize, rightResize, move };

// The fixed sRGB colour of an instrument, shared by the timeline, the legend and the inspectors.
QColor instrumentColor(AutoBeatInstrument instrument);

// "m:ss" from rounded seconds; "0:00" for negative or non-finite times.
QString formatDuration(double seconds);

// "mm:ss:hh" (minutes, seconds, hundredths); "00:00:00" for negative or non-finite times.
QString formatPreviewTimecode(double seconds);

} // namespace fotivela
