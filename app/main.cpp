// Temra: starts on the input page.
#include "core/version.h"
#include "platform/platform.h"
#include "ui/form1.h"
#include "ui/temra_app.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <limits>

namespace {

// The icon of the desktop entry, drawn at the sizes window frames and task bars
// ask for.
QIcon TemraIcon() {
    QSvgRenderer svg(QStringLiteral(":/temra/temra.svg"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Temra");
    QApplication::setApplicationVersion(
        QString::fromUtf8(temra::kVersion.data(), static_cast<int>(temra::kVersion.size())));
    QGuiApplication::setDesktopFileName(QStringLiteral(TEMRA_APP_ID));
    QApplication::setWindowIcon(TemraIcon());
    QApplication::setQuitOnLastWindowClosed(false); // the input page's close ends the program
    temra::SetMemoryAdvisor(&temra::platform::AdviseHugePages);
    temra::ui::TemraApp app;
    app.module().run.MemoryBudget = std::numeric_limits<std::uint64_t>::max();
    app.module().run.MemoryProbe = &temra::platform::AvailableMemory;
    temra::platform::EndWithTemporaryFilesRemoved();
    app.form1().show();
    const int status = QApplication::exec();
    temra::platform::RemoveTemporaryFiles(); // a workbook being written when Temra quits
    return status;
}
