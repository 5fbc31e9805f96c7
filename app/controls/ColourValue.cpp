#include "controls/ColourValue.h"

#include <cfenv>
#include <cmath>

long RoundHalfEven(double value) {
    // The default rounding mode is to nearest, ties to even; say so rather
    // than rely on whoever ran before us.
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long rounded = std::lrint(value);
    std::fesetround(mode);
    return rounded;
}

int TwipsToPixels(double twips) {
    return int(RoundHalfEven(twips / TwipsPerPixel));
}
