// vg57: monitors and controls a VG-57 wide-range vacuum gauge over RS-485.
#include "EventLoop.h"

#include <QApplication>
#include <QLocale>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Every number is written and read with '.', whatever the regional settings say.
    QLocale::setDefault(QLocale::c());
    QApplication::setApplicationName(QStringLiteral("Программа управления прибором Baromax VG-57"));
    vg57::platform::InstallEventWatch();
    QMainWindow window;
    window.setWindowTitle(QApplication::applicationName());
    window.resize(800, 600);
    window.show();
    return app.exec();
}
