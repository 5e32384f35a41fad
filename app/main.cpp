// vg57: monitors and controls a VG-57 wide-range vacuum gauge over RS-485.
#include "EventLoop.h"
#include "Fonts.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "Numbers.h"
#include "PortChooserDialog.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's own buttons and dialogs (message boxes, the open-file dialog) speak Russian too.
void LoadQtTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vg57::platform::UseCNumbers();
    LoadQtTranslations(app);
    QApplication::setApplicationName(QStringLiteral("Программа управления прибором Baromax VG-57"));
    // The design's fonts ("MS Sans Serif", "Arial") are not on Linux; Liberation Sans has
    // Arial's metrics, so texts fit the places the design gives them.
    QApplication::setFont(vg57::WindowFont());
    vg57::platform::InstallEventWatch();
    vg57::InstallPortChooser();
    // The general error report: an error that escaped a handler is shown, and the program goes on.
    vg57::platform::SetExceptionDisplay([](const std::string& message) {
        vg57::ShowMessageBox(QApplication::activeWindow(), QMessageBox::Critical,
                             QApplication::applicationName(), QString::fromStdString(message));
    });

    vg57::TVG57Form window;
    window.show();
    return app.exec();
}
