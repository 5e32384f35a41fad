// vg57: monitors and controls a VG-57 wide-range vacuum gauge over RS-485.
#include "EventLoop.h"
#include "Fonts.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "MetricsBoard.h"
#include "MetricsServer.h"
#include "Numbers.h"
#include "PortChooserDialog.h"
#include "StopSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QSessionManager>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace {

// Qt's own buttons and dialogs (message boxes, the open-file dialog) speak Russian too.
void LoadQtTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

// --metrics HOST:PORT and --metrics-label KEY=VALUE; exits 2 on a usage error.
vg57::TMetricsOptions ParseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"metrics", "Отдавать метрики Prometheus по адресу ХОСТ:ПОРТ.", "HOST:PORT"});
    parser.addOption({"metrics-label", "Постоянная метка метрик КЛЮЧ=ЗНАЧЕНИЕ.", "KEY=VALUE"});
    std::string reason;
    vg57::TMetricsOptions options;
    if (parser.parse(app.arguments())) {
        if (parser.isSet("help")) parser.showHelp(0);
        std::vector<std::string> labels;
        for (const QString& l : parser.values("metrics-label"))
            labels.push_back(l.toStdString());
        if (vg57::ParseMetricsOptions(parser.value("metrics").toStdString(), labels, options,
                                      reason))
            return options;
    } else {
        reason = parser.errorText().toStdString();
    }
    std::fprintf(stderr, "vg57: %s\n", reason.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const vg57::TMetricsOptions metrics = ParseOptions(app);
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

    // The board outlives the window's cycle that fills it, and the server that reads it.
    vg57::TMetricsBoard board;
    std::unique_ptr<vg57::TMetricsServer> server;
    vg57::TVG57Form window;
    if (metrics.enabled) {
        window.Cycle().SetMetrics(&board);
        server = std::make_unique<vg57::TMetricsServer>(board, metrics.labels);
        std::string reason;
        if (!server->Start(metrics.address, reason)) {
            server.reset();
            window.SetMetricsProblem("Метрики не отдаются: " + reason);
        }
    }
    // A logout or a SIGTERM ends the run as Stop does, asks nothing, and the program exits 0
    // with the archive closed.
    vg57::platform::CatchStopSignals([&window](int) { window.EndSession(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.EndSession(); });
    window.show();
    const int code = app.exec();
    window.Cycle().SetMetrics(nullptr);
    return code;
}
