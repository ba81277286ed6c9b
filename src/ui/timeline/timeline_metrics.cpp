#include "ui/timeline/timeline_metrics.h"

namespace fotivela::TimelineMetrics {

QColor accentColor() { return rgba(1.0, 0.78, 0.18); }
QColor musicLaneColor() { return rgba(0.06, 0.08, 0.10); }

} // namespace fotivela::TimelineMetrics
