#pragma once

#include "model/slide.h"

#include <QFont>

namespace fotivela {

// The face a title of the design is drawn with in exported frames, at the
// size in points. Linux lacks the original faces; each design maps to the
// nearest face of the fonts we install (fonts-dejavu, fonts-urw-base35,
// fonts-comic-neue). A face that is not installed gives the semibold system
// font, so this never fails.
QFont nsFont(TitleFontDesign design, double pointSize);

} // namespace fotivela
