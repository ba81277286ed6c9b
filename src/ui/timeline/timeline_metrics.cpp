#include "ui/timeline/timeline_metrics.h"

namespace fotivela::TimelineMetrics {

QColor accentColor() { return AppTheme::accent(); }
QColor musicLaneColor() { return AppTheme::musicLane(); }

} // namespace fotivela::TimelineMetrics
