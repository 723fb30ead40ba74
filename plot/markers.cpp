// The palette of the channels and the markers drawn on their points.
#include "plot/plot_parts.h"

#include <QPainter>

#include <algorithm>

namespace temra::plot {

const QColor kPalette[] = {QColor(31, 119, 180),  QColor(214, 39, 40),   QColor(44, 160, 44),
                           QColor(148, 103, 189), QColor(255, 127, 14),  QColor(23, 190, 207),
                           QColor(140, 86, 75),   QColor(227, 119, 194), QColor(127, 127, 127),
                           QColor(188, 189, 34)};

QColor ChannelColour(int index) {
    return kPalette[static_cast<std::size_t>(index) % (sizeof kPalette / sizeof kPalette[0])];
}

void DrawMarker(QPainter* p, const QPointF& c, int style, double size, const QColor& colour) {
    const double r = std::max(1.5, size * 0.75);
    p->setPen(QPen(colour, 1.2));
    switch (style) {
    case kMarkerCircle:
        p->setBrush(Qt::NoBrush);
        p->drawEllipse(c, r + 1, r + 1);
        break;
    case kMarkerSquare:
        p->setBrush(Qt::NoBrush);
        p->drawRect(QRectF(c.x() - r - 1, c.y() - r - 1, 2 * r + 2, 2 * r + 2));
        break;
    case kMarkerDiamond: {
        p->setBrush(colour);
        const QPointF pts[] = {
            {c.x(), c.y() - r}, {c.x() + r, c.y()}, {c.x(), c.y() + r}, {c.x() - r, c.y()}};
        p->drawPolygon(pts, 4);
        break;
    }
    case kMarkerTriangle: {
        p->setBrush(colour);
        const QPointF pts[] = {{c.x(), c.y() - r}, {c.x() + r, c.y() + r}, {c.x() - r, c.y() + r}};
        p->drawPolygon(pts, 3);
        break;
    }
    case kMarkerTriangleDown: {
        p->setBrush(colour);
        const QPointF pts[] = {{c.x(), c.y() + r}, {c.x() + r, c.y() - r}, {c.x() - r, c.y() - r}};
        p->drawPolygon(pts, 3);
        break;
    }
    case kMarkerCross:
        p->setPen(QPen(colour, 2));
        p->drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
        p->drawLine(QPointF(c.x() - r, c.y() + r), QPointF(c.x() + r, c.y() - r));
        break;
    case kMarkerCrossCircle:
        p->setBrush(Qt::NoBrush);
        p->setPen(QPen(colour, 2));
        p->drawEllipse(c, r + 2, r + 2);
        p->drawLine(QPointF(c.x() - r - 2, c.y()), QPointF(c.x() + r + 2, c.y()));
        p->drawLine(QPointF(c.x(), c.y() - r - 2), QPointF(c.x(), c.y() + r + 2));
        break;
    case kMarkerDisc:
    default:
        p->setBrush(colour);
        p->drawEllipse(c, r, r);
        break;
    }
}

void DistinguishCurves(Plot& plot, int count) {
    static const int markers[] = {kMarkerDisc, kMarkerTriangle, kMarkerDiamond, kMarkerTriangleDown,
                                  kMarkerCross};
    const int colours = static_cast<int>(sizeof kPalette / sizeof kPalette[0]);
    for (int c = 0; c < count && c < plot.ChannelCount(); ++c) {
        const int round = c / colours;
        plot.channel(c).MarkersStyle = markers[round % 5];
        plot.channel(c).Dash = (round / 5) % 2 == 0 ? Qt::SolidLine : Qt::DashLine;
    }
}

} // namespace temra::plot
