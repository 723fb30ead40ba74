// The user guide window: docs/guide.md, built into the program as a resource, shown
// as formatted text, with a search box (Help ▸ User guide, or F1, on the input page
// and in the samples window, which opens it at the study fit).
#pragma once

#include "ui/window.h"

class QLabel;
class QLineEdit;
class QTextBrowser;

namespace temra::ui {

class GuideWindow : public TemraWindow {
    Q_OBJECT
  public:
    explicit GuideWindow(TemraApp& app);

    // The guide as the program holds it (Markdown).
    static QString GuideText();

    // Shows the section whose heading begins with `heading` ("5 The study fit").
    void ShowSection(const QString& heading);
    // Finds the next place that holds `text`, from the top again after the last;
    // false (said under the search box) when the guide does not hold it.
    bool Find(const QString& text);

    QTextBrowser* Browser;
    QLineEdit* Search; // Ctrl+F; Enter finds the next
    QLabel* SearchNote;
};

} // namespace temra::ui
