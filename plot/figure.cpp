#include "plot/figure.h"

#include <qcustomplot.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSvgGenerator>

namespace temra::plot {

namespace {

// Draws the whole plot onto a vector device of its size in pixels.
bool DrawVector(QCustomPlot* canvas, QPaintDevice* device, int width, int height) {
    QCPPainter painter;
    if (!painter.begin(device)) return false;
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    // A colour map is an image: a PDF keeps it as it is drawn (Flate), not as
    // JPEG, whose blocks blur the cells' edges and shift their colours.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    canvas->toPainter(&painter, width, height);
    return painter.end();
}

} // namespace

bool SaveFigure(QCustomPlot* canvas, const QString& path, int dpi, QString& reason) {
    const QString kind = QFileInfo(path).suffix().toLower();
    const int width = canvas->width(), height = canvas->height();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return false;
    }
    bool drawn = false;
    if (kind == "png") {
        const QPixmap image = canvas->toPixmap(width, height, dpi / 96.0);
        QImage png = image.toImage();
        png.setDotsPerMeterX(static_cast<int>(dpi / 0.0254));
        png.setDotsPerMeterY(static_cast<int>(dpi / 0.0254));
        drawn = !png.isNull() && png.save(&file, "PNG");
    } else if (kind == "svg") {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        // Laid out at the screen's 96 dpi: drawn at the same, the texts keep their
        // sizes and places beside the lines and marks (the generator's own 72 would
        // shrink them).
        svg.setResolution(96);
        svg.setSize(QSize(width, height));
        svg.setViewBox(QRect(0, 0, width, height));
        svg.setTitle("Temra");
        drawn = DrawVector(canvas, &svg, width, height);
    } else if (kind == "pdf") {
        QPdfWriter pdf(&file);
        pdf.setCreator("Temra");
        pdf.setResolution(96);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setPageSize(QPageSize(QSizeF(width * 72.0 / 96, height * 72.0 / 96), QPageSize::Point));
        drawn = DrawVector(canvas, &pdf, width, height);
    } else {
        reason = "the name must end in .png, .svg or .pdf";
        file.cancelWriting();
        return false;
    }
    if (!drawn) {
        reason = "the figure could not be drawn";
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

void AskAndSaveFigure(QWidget* parent, QCustomPlot* canvas, const QString& suggestedName) {
    static QString lastFolder;
    if (lastFolder.isEmpty() || !QFileInfo(lastFolder).isDir()) {
        lastFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (!QFileInfo(lastFolder).isDir()) lastFolder = QDir::homePath();
    }
    QString name = suggestedName;
    name.replace(QRegularExpression(R"([/\\:*?"<>|\x00-\x1f])"), "_");
    QString filter = "PNG image (*.png)";
    const QString path = QFileDialog::getSaveFileName(
        parent, "Save figure", QDir(lastFolder).filePath(name),
        "PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)", &filter);
    if (path.isEmpty()) return;
    QString file = path;
    if (QFileInfo(file).suffix().isEmpty())
        file += filter.startsWith("SVG") ? ".svg" : filter.startsWith("PDF") ? ".pdf" : ".png";
    int dpi = 300;
    if (QFileInfo(file).suffix().toLower() == "png") {
        bool ok = false;
        const QString choice = QInputDialog::getItem(
            parent, "Save figure", "Resolution:", {"150 dpi", "300 dpi", "600 dpi"}, 1, false, &ok);
        if (!ok) return;
        dpi = choice.section(' ', 0, 0).toInt();
    }
    lastFolder = QFileInfo(file).absolutePath();
    QString reason;
    if (!SaveFigure(canvas, file, dpi, reason))
        QMessageBox::critical(
            parent, "Temra", QString("The figure \"%1\" could not be saved: %2").arg(file, reason));
}

void OfferFigureMenu(QCustomPlot* canvas, const std::function<QString()>& suggestedName) {
    canvas->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(canvas, &QWidget::customContextMenuRequested, canvas,
                     [canvas, suggestedName](const QPoint& at) {
                         QMenu menu(canvas);
                         menu.addAction("Save figure…", canvas, [canvas, suggestedName] {
                             AskAndSaveFigure(canvas->window(), canvas, suggestedName());
                         });
                         menu.exec(canvas->mapToGlobal(at));
                     });
}

} // namespace temra::plot
