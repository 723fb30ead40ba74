// Temra: starts on the input page.
#include "form1.h"
#include "memory_advice.h"
#include "temra_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Temra");
    QApplication::setQuitOnLastWindowClosed(false); // the input page's close ends the program
    temra::platform::InstallMemoryAdvice();
    temra::ui::TemraApp app;
    app.form1().show();
    return QApplication::exec();
}
