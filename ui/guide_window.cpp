#include "ui/guide_window.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace temra::ui {

QString GuideWindow::GuideText() {
    QFile file(":/docs/guide.md");
    if (!file.open(QIODevice::ReadOnly)) return "# Temra user guide\n\nThe guide is missing.";
    return QString::fromUtf8(file.readAll());
}

GuideWindow::GuideWindow(TemraApp& app) : TemraWindow(app) {
    setObjectName("GuideWindow");
    setWindowTitle("Temra user guide");
    Browser = new QTextBrowser(this);
    Browser->setObjectName("Browser");
    Browser->setOpenExternalLinks(true);
    Browser->setMarkdown(GuideText());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Browser);
    FitFirstSize(*this, Twips(12000), Twips(10000));
}

} // namespace temra::ui
