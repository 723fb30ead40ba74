#include "ui/guide_window.h"

#include "ui/temra_app.h"
#include "ui/widgets.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
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
    Search = new QLineEdit(this);
    Search->setObjectName("Search");
    Search->setPlaceholderText("Find in the guide (Enter: the next)");
    Search->setClearButtonEnabled(true);
    SearchNote = MakeLabel(this, "SearchNote", "");
    auto* find = new QHBoxLayout;
    find->addWidget(Search, 1);
    find->addWidget(SearchNote);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(find);
    layout->addWidget(Browser, 1);
    connect(Search, &QLineEdit::returnPressed, this, [this] { Find(Search->text()); });
    connect(Search, &QLineEdit::textChanged, SearchNote, &QLabel::clear);
    auto* focus = new QShortcut(QKeySequence::Find, this);
    connect(focus, &QShortcut::activated, this, [this] {
        Search->setFocus();
        Search->selectAll();
    });
    // Small enough beside another window, large enough to read a paragraph.
    const QFontMetrics text = Browser->fontMetrics();
    Browser->setMinimumSize(50 * text.averageCharWidth(), 10 * text.lineSpacing());
    FitFirstSize(*this, Twips(12000), Twips(10000));
}

bool GuideWindow::Find(const QString& text) {
    SearchNote->clear();
    if (text.trimmed().isEmpty()) return false;
    if (Browser->find(text)) return true;
    // From the top again.
    QTextCursor top = Browser->textCursor();
    top.movePosition(QTextCursor::Start);
    Browser->setTextCursor(top);
    if (Browser->find(text)) return true;
    SearchNote->setText(QString("\"%1\" is not in the guide").arg(text));
    return false;
}

void GuideWindow::ShowSection(const QString& heading) {
    for (QTextBlock b = Browser->document()->begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().headingLevel() == 0 || !b.text().startsWith(heading)) continue;
        QTextCursor at(b);
        Browser->setTextCursor(at);
        // The heading at the top of the view.
        Browser->verticalScrollBar()->setValue(Browser->verticalScrollBar()->maximum());
        Browser->ensureCursorVisible();
        return;
    }
}

} // namespace temra::ui
