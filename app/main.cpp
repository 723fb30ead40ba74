// Temra: starts on the input page.
#include "platform/platform.h"
#include "ui/form1.h"
#include "ui/temra_app.h"

#include <QApplication>

#include <limits>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Temra");
    QApplication::setQuitOnLastWindowClosed(false); // the input page's close ends the program
    temra::SetMemoryAdvisor(&temra::platform::AdviseHugePages);
    temra::ui::TemraApp app;
    app.module().MemoryBudget = std::numeric_limits<std::uint64_t>::max();
    app.module().MemoryProbe = &temra::platform::AvailableMemory;
    app.form1().show();
    return QApplication::exec();
}
