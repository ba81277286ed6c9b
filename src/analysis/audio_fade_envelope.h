#pragma once

namespace fotivela {

// Where the closing fade of a song cut to the slideshow's length begins.
namespace AudioFadeEnvelope {

// The fade lasts at least 0.2 s and never begins before 0. A fade length that is not
// a number counts as the shortest fade; a cut time that is not finite gives 0.
double fadeStart(double cutTime, double fadeOutDuration);

} // namespace AudioFadeEnvelope

} // namespace fotivela
