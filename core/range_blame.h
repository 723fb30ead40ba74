// Which box to name when a range holds far too many values (or none): of its
// extent (maximum minus minimum) and its step, the one that lies further from what
// the window offers by default, as a factor. A step of 1e-6 where 100 is the
// default is named before an extent of 3000 m; an extent of 1e308 before a step of
// 0.001.
#pragma once

#include <cmath>

namespace temra {

inline bool ExtentIsCulprit(double extent, double step, double typicalExtent, double typicalStep) {
    const double extentFactor = std::fabs(extent) / typicalExtent;
    const double stepFactor = typicalStep / std::fabs(step);
    return extentFactor > stepFactor;
}

} // namespace temra
