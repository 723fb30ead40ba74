#include "study/fit/contour.h"

#include <cmath>
#include <utility>

namespace temra::study {

namespace {

// One cell's segments (marching squares): corners c (0 bottom left, 1 bottom
// right, 2 top right, 3 top left) at (px, py).
void CellSegments(const std::array<double, 4>& c, const std::array<double, 4>& px,
                  const std::array<double, 4>& py, double level,
                  std::vector<std::array<double, 4>>& segments) {
    int index = 0;
    for (std::size_t k = 0; k < 4; ++k) index |= (c[k] > level ? 1 : 0) << k;
    if (index == 0 || index == 15) return;
    // The crossing on edge e, which runs from corner e to corner e + 1.
    auto point = [&](std::size_t e) {
        const std::size_t a = e, b = (e + 1) % 4;
        const double f = (level - c[a]) / (c[b] - c[a]);
        return std::pair<double, double>{px[a] + f * (px[b] - px[a]), py[a] + f * (py[b] - py[a])};
    };
    auto add = [&](std::size_t e0, std::size_t e1) {
        const auto p = point(e0), q = point(e1);
        segments.push_back({p.first, p.second, q.first, q.second});
    };
    // Edges: 0 bottom, 1 right, 2 top, 3 left. A saddle is split by the centre.
    const bool centreAbove = (c[0] + c[1] + c[2] + c[3]) / 4 > level;
    switch (index) {
    case 1:
    case 14:
        return add(3, 0);
    case 2:
    case 13:
        return add(0, 1);
    case 3:
    case 12:
        return add(3, 1);
    case 4:
    case 11:
        return add(1, 2);
    case 6:
    case 9:
        return add(0, 2);
    case 7:
    case 8:
        return add(3, 2);
    case 5:  // bottom left and top right above
    case 10: // bottom right and top left above
        if (centreAbove == (index == 5)) {
            add(0, 1);
            add(2, 3);
        } else {
            add(3, 0);
            add(1, 2);
        }
        return;
    default:
        return;
    }
}

} // namespace

std::vector<std::array<double, 4>> ContourSegments(const std::vector<double>& values,
                                                   const std::vector<double>& xs,
                                                   const std::vector<double>& ys, double level) {
    std::vector<std::array<double, 4>> segments;
    const std::size_t nx = xs.size(), ny = ys.size();
    auto v = [&](std::size_t ix, std::size_t iy) { return values[iy * nx + ix]; };
    for (std::size_t iy = 0; iy + 1 < ny; ++iy)
        for (std::size_t ix = 0; ix + 1 < nx; ++ix) {
            const std::array<double, 4> c = {v(ix, iy), v(ix + 1, iy), v(ix + 1, iy + 1),
                                             v(ix, iy + 1)};
            if (std::isnan(c[0]) || std::isnan(c[1]) || std::isnan(c[2]) || std::isnan(c[3]))
                continue;
            const double x0 = xs[ix], x1 = xs[ix + 1], y0 = ys[iy], y1 = ys[iy + 1];
            CellSegments(c, {x0, x1, x1, x0}, {y0, y0, y1, y1}, level, segments);
        }
    return segments;
}

} // namespace temra::study
