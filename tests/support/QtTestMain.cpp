// GoogleTest main with a Qt application object, so that tests can run the event loop.
#include "EventLoop.h"

#ifdef VG57_TEST_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QLocale>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VG57_TEST_WIDGETS
    // Widget tests never need a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    QLocale::setDefault(QLocale::c());
    vg57::platform::InstallEventWatch();
    return RUN_ALL_TESTS();
}
