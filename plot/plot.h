// Temra's plot layer: the operations the graph windows use (channels of points,
// axes with Min, Span and Title, a logarithmic y axis, clear, and a callback that
// may replace each x-axis tick label), drawn with QCustomPlot.
//
// A channel is a series of points joined by a line in the order added. Channels
// and axes are numbered from 0. The layer scales to a million channels: channels
// are kept compactly, and all of them are drawn by one plottable; when many
// channels carry lines, they are drawn in one colour and each distinct pixel
// segment is painted once. Lines are drawn first, then the markers of the
// channels with lines, and last the markers of channels without a line (the
// measured values), so these are never hidden.
//
// Tick labels of every axis share one style, chosen for the axis as a whole: plain
// numbers when every label lies from 0.001 to below 100000, otherwise each a
// mantissa times one power of ten common to the axis ("0.5·10⁻⁷", "1.0·10⁻⁷"),
// with as many decimals as the labels need and the user's decimal separator. A
// logarithmic axis runs over whole decades and shows every decade as a power
// ("10⁻⁶"), so that each value drawn lies between two labelled decades.
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QCustomPlot;
class QCPAxis;
class QCPLayoutGrid;
class QCPTextElement;

namespace temra::plot {

// Marker shapes by style number: 0 circle, 1 square, 2 diamond, 3 small disc,
// 4 triangle, 5 circle with a cross (a distinct larger mark), 6 triangle pointing
// down, 7 cross.
enum MarkerStyle : int {
    kMarkerCircle = 0,
    kMarkerSquare = 1,
    kMarkerDiamond = 2,
    kMarkerDisc = 3,
    kMarkerTriangle = 4,
    kMarkerCrossCircle = 5,
    kMarkerTriangleDown = 6,
    kMarkerCross = 7,
};

struct Point {
    float x, y;
};

class Plot;

class Channel {
  public:
    void AddPoint(double x, double y);
    int PointCount() const { return count_; }
    Point PointAt(int i) const;

    bool TraceVisible = true;
    bool MarkersVisible = false;
    int MarkersSize = 3;
    int MarkersStyle = kMarkerDisc;
    bool MarkersAllowIndividual = false;
    QColor Colour; // invalid: the plot's palette colour of the channel
    Qt::PenStyle Dash = Qt::SolidLine;

  private:
    friend class Plot;
    static constexpr int kInline = 7;
    std::array<Point, kInline> inline_{};
    int count_ = 0;
    std::unique_ptr<std::vector<Point>> more_;
    Plot* plot_ = nullptr;
};

struct Axis {
    double Min = 0;
    double Span = 100;
    QString Title;
    bool Visible = true;
    // Rescale to the smallest and largest value plotted at drawing time.
    bool TrackScaleMinMax = false;
    // Room drawn beyond each end, as a fraction of the span (so that markers on
    // the ends are not cut off); Min and Span keep their values.
    double Margin = 0;
};

// The text of one value as a label (see above); `powers`: always as a power of ten.
QString TickText(double value, QChar decimalPoint, bool powers = false);

// The labels of the ticks of one linear axis, in one style (see above).
QStringList AxisTickTexts(const QVector<double>& ticks, QChar decimalPoint);

// Gives the first `count` channels looks that differ pairwise: the palette's ten
// colours with discs, then with triangles, diamonds, triangles pointing down and
// crosses, and all of these again with dashed lines (a hundred curves, each its
// own).
void DistinguishCurves(Plot& plot, int count);

// Gives a QCustomPlot axis the tick labels of this style.
void UseTickStyle(QCPAxis* axis, QChar decimalPoint, bool logarithmic);

// Fills `host` with `canvas`, margins none, under a title row of bold Arial of
// `points` (the plot layout's element (0, 0), empty until set).
void PlaceCanvasWithTitle(QWidget* host, QCustomPlot* canvas, int points);

// A canvas whose linear axes (those without a fixed step) carry as many ticks as
// their labels leave room for, at most `most`, apart by at least two characters
// (a line on a vertical axis): fitted whenever it is resized, and by SpaceTicks
// after its axes change. SpaceTicks replots it.
QCustomPlot* NewCanvas(QWidget* parent, int most = 6);
void SpaceTicks(QCustomPlot* canvas);
// Whether an axis's labels, as last drawn, stand apart.
bool TickLabelsApart(const QCPAxis* axis);

class Plot : public QWidget {
    Q_OBJECT
  public:
    explicit Plot(QWidget* parent = nullptr);
    ~Plot() override;

    void SetTitleText(const QString& text);
    QString TitleText() const { return title_; }
    void SetTitleFontSize(int points);

    // Afterwards no point is shown: every channel is dropped.
    void Clear();
    // Appends a channel with default settings; returns its index.
    int AddChannel();
    // Makes room for `count` channels at once (a large graph then grows once).
    void ReserveChannels(std::size_t count);
    // Memory a channel of a few points takes, and what drawing it takes besides.
    static std::size_t BytesPerChannel();
    static std::size_t BytesToDrawChannel();
    int ChannelCount() const { return static_cast<int>(channels_.size()); }
    Channel& channel(int index);
    const Channel& channel(int index) const;
    void SetChannelTitle(int index, const QString& title);
    QString ChannelTitle(int index) const;
    // With MarkersAllowIndividual: the marker of one point (a style number).
    void SetPointMarker(int channel, int point, int style);

    Axis& xAxis(int index = 0);
    Axis& yAxis(int index = 0);
    int XAxisCount() const { return static_cast<int>(xAxes_.size()); }
    int YAxisCount() const { return static_cast<int>(yAxes_.size()); }
    void RemoveAllXAxes() { xAxes_.clear(); }
    void RemoveAllYAxes() { yAxes_.clear(); }
    int AddXAxis();
    int AddYAxis();
    void SetLogY(bool logarithmic) { logY_ = logarithmic; }
    bool LogY() const { return logY_; }
    // The legend lies inside the plotting area, at its top left, while its rows
    // fit there in one column; otherwise beside the area, in up to
    // kLegendColumnsBeside columns as high as the area. Where even those do not
    // hold every row, the curves that do not fit are counted in one last row, so
    // the legend never leaves the plot. The plot is never made so small that fewer
    // than kLegendRowsShown rows fit in a column.
    static constexpr int kLegendRowsShown = 8;
    static constexpr int kLegendColumnsBeside = 3;
    void SetLegendVisible(bool visible) { legendVisible_ = visible; }
    void SetDecimalPoint(QChar point) { decimalPoint_ = point; }
    // The plot is never made smaller than this, nor than its titles need.
    void SetMinimumPlotSize(QSize size) { minimumPlotSize_ = size; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override { return minimumSizeHint(); }
    // The colour a channel is drawn in.
    QColor ColourOf(int index) const;
    // Distance in pixels between x-axis ticks is one unit.
    void SetXTickStep(double step) { xTickStep_ = step; }

    // Many lines through the same x positions (one value per position and line,
    // rows[i][k] the value of line k at x[i]), drawn as their density rather than
    // one by one: for each stretch between neighbouring positions, how many lines
    // pass each point, shaded from faint to full; the outermost lines give the
    // envelope. Drawn under the channels. Millions of lines take well under a
    // second and a few megabytes.
    void SetLineDensity(const std::vector<double>& x, const std::vector<const double*>& rows,
                        std::size_t lines);
    void ClearLineDensity();
    std::size_t DensityLineCount() const;

    // Called for each x-axis tick label with the tick position; may replace the text.
    std::function<void(int index, double position, QString& label)> OnXAxisCustomizeLabel;

    // Applies the model to QCustomPlot and repaints.
    void Replot();
    // The rows the legend shows now, in order, after a Replot.
    QStringList LegendTexts() const;
    // The labels the axes show now (positions and texts), after a Replot.
    std::vector<std::pair<double, QString>> XTickLabels() const;
    std::vector<std::pair<double, QString>> YTickLabels() const;
    QCustomPlot* Canvas() const { return canvas_; }
    // Whether the legend, as last drawn, lies over a point of a curve.
    bool LegendHidesData() const;

    // Smallest and largest x and y over all points (positive y only on a log axis).
    bool DataRange(double& xMin, double& xMax, double& yMin, double& yMax) const;

  private:
    friend class Channel;
    friend class ChannelsPlottable;
    void NoteValue(double x, double y);
    void ApplyXAxis();
    void ApplyYAxis();
    void ApplyLegend();
    // Rows and columns of the legend for a canvas of `height` pixels.
    void ArrangeLegend(int height);
    // Inside the plotting area, or beside it.
    void PlaceLegend(bool beside);
    // As many ticks as leave room between their labels on a canvas of this size;
    // true when a count changed.
    // Whether the legend, inside the plotting area at its top left, would hide a
    // point of a curve (its rows `cell` high and wide, within `frame`).
    bool LegendWouldCoverData(QSize cell, QSize frame) const;
    // Whether a point of a curve lies in `room` (pixels), its x stretched by
    // `stretch` from `left`, with room for its marker when `markers`.
    bool PointIn(const QRectF& room, double left, double stretch, bool markers) const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QCustomPlot* canvas_;
    QCPTextElement* titleElement_;
    QString title_;
    std::vector<Channel> channels_;
    std::map<int, QString> titles_;
    std::map<int, std::map<int, int>> pointMarkers_;
    std::vector<Axis> xAxes_{Axis{}};
    std::vector<Axis> yAxes_{Axis{}};
    bool logY_ = false;
    bool legendVisible_ = false;
    QChar decimalPoint_ = QLatin1Char('.');
    QSize minimumPlotSize_;
    double xTickStep_ = 0; // 0: automatic
    double dataXMin_ = 0, dataXMax_ = 0, dataYMin_ = 0, dataYMax_ = 0;
    int aroundArea_ = 0;    // canvas height less the plotting area's, as last laid out
    int aroundWidth_ = 0;   // the same across
    int legendEntries_ = 0; // the rows the legend would show, given room
    QCPLayoutGrid* besideLegend_ = nullptr; // the column beside the area, when in use
    class ChannelsPlottable* plottable_;
    std::unique_ptr<struct LineDensity> density_;
};

} // namespace temra::plot
