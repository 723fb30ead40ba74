// The user guide window: docs/guide.md, built into the program as a resource, shown
// as formatted text (Help ▸ User guide on the input page).
#pragma once

#include "ui/window.h"

class QTextBrowser;

namespace temra::ui {

class GuideWindow : public TemraWindow {
    Q_OBJECT
  public:
    explicit GuideWindow(TemraApp& app);

    // The guide as the program holds it (Markdown).
    static QString GuideText();

    QTextBrowser* Browser;
};

} // namespace temra::ui
