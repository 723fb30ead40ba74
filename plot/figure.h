// Saving a graph as a figure for a paper: PNG at a chosen resolution, or SVG and
// PDF as vector drawings (the PDF with its fonts embedded), of the plot alone,
// without the window around it. A figure is written completely under its name,
// or not at all.
#pragma once

#include <QString>

#include <functional>

class QCustomPlot;
class QWidget;

namespace temra::plot {

// Writes the figure; the format follows the file's extension (.png, .svg, .pdf).
// `dpi` is the resolution of a PNG (96 is the screen's). False, with the reason,
// when it cannot be written.
bool SaveFigure(QCustomPlot* canvas, const QString& path, int dpi, QString& reason);

// Asks for a file name (and a PNG's resolution) and saves the figure; a failure
// is shown in a message. Offered by each graph's context menu ("Save figure…")
// and by Ctrl+S in its window. The dialog opens in the folder of the last
// figure saved, at first the user's pictures folder; characters that a file
// name cannot hold are left out of the suggested name.
void AskAndSaveFigure(QWidget* parent, QCustomPlot* canvas, const QString& suggestedName);

// Gives `canvas` the context menu "Save figure…"; the name is asked for when the
// menu is used, so it may follow what the graph shows.
void OfferFigureMenu(QCustomPlot* canvas, const std::function<QString()>& suggestedName);

} // namespace temra::plot
