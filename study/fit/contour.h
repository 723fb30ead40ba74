// The contour where a field over a rectangular grid crosses a level, as line
// segments (marching squares, with linear interpolation along the cell edges).
// Cells with a corner that holds no value (NaN) are passed over.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace temra::study {

// values[iy * xs.size() + ix] at (xs[ix], ys[iy]); each segment is (x0, y0, x1, y1).
std::vector<std::array<double, 4>> ContourSegments(const std::vector<double>& values,
                                                   const std::vector<double>& xs,
                                                   const std::vector<double>& ys, double level);

} // namespace temra::study
