// vg57-cli log: the window's measurement run as a service. No line per reading; one line per
// change of state; SIGINT and SIGTERM stop it as Stop does.
#include "ArchiveFolder.h"
#include "CliCommon.h"
#include "EventLoop.h"
#include "LogSession.h"
#include "MetricsBoard.h"
#include "MetricsServer.h"
#include "PortMap.h"
#include "PushOptions.h"
#include "StopSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vg57::cli {

namespace {

const char kCommand[] = "log";
const char kAddressChars[] = "0123456789ABCDEF"; // the gauge's addresses, as the window lists

// The options into `o`; false with the reason of a usage error.
bool ReadOptions(const QCommandLineParser& p, TLogOptions& o, std::string& reason) {
    const bool byPort = p.isSet("port"), byDevice = p.isSet("device");
    if (byPort == byDevice) {
        reason = "нужен ровно один из параметров --port COMn и --device ПУТЬ";
        return false;
    }
    if (byPort) {
        o.comNumber = platform::PortNumberOf(p.value("port").toUpper().toStdString());
        if (!p.value("port").toUpper().startsWith("COM") || o.comNumber <= 0 ||
            o.comNumber > 0xFFFF) {
            reason = "порт \"" + p.value("port").toStdString() + "\" должен иметь вид COMn";
            return false;
        }
    } else {
        o.device = p.value("device").toStdString();
        if (o.device.empty()) {
            reason = "--device: пустой путь";
            return false;
        }
    }
    bool ok = true;
    if (p.isSet("baud")) {
        o.baud = p.value("baud").toInt(&ok);
        if (!ok || o.baud <= 0) return reason = "--baud: нужна скорость в бит/с", false;
    }
    if (p.isSet("parity")) {
        const QStringList kinds = {"none", "odd", "even", "mark", "space"};
        const qsizetype kind = kinds.indexOf(p.value("parity"));
        if (kind < 0) return reason = "--parity: none, odd, even, mark или space", false;
        o.parity = static_cast<TParity>(kind);
    }
    if (p.isSet("stop-bits")) {
        const int bits = p.value("stop-bits").toInt(&ok);
        if (!ok || (bits != 1 && bits != 2)) return reason = "--stop-bits: 1 или 2", false;
        o.stopBits = static_cast<std::uint16_t>(bits);
    }
    if (p.isSet("address")) {
        const std::string a = p.value("address").toUpper().toStdString();
        if (a.size() != 1 || !std::strchr(kAddressChars, a[0]))
            return reason = "--address: один знак из 0123456789ABCDEF", false;
        o.address = a[0];
    }
    if (p.isSet("interval")) {
        // QString reads numbers with '.', whatever the regional settings say.
        const double seconds = p.value("interval").toDouble(&ok);
        if (!ok || !(seconds >= 0.01 && seconds <= 86400))
            return reason = "--interval: от 0.01 до 86400 секунд", false;
        o.intervalMs = static_cast<int>(seconds * 1000 + 1e-9); // rounded down, as the window
    }
    o.archiveDir = p.value("archive-dir").toStdString();
    return true;
}

// The archive folder as the window's unless given; false with the reason when it can't be made.
bool PrepareFolder(TLogOptions& o, std::string& reason) {
    if (o.archiveDir.empty()) {
        const TArchiveFolder folder = PrepareArchiveFolder();
        if (!folder.problem.empty()) SayLine(folder.problem);
        o.archiveDir = folder.path;
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(o.archiveDir, ec);
    if (!ec && !std::filesystem::is_directory(o.archiveDir, ec) && !ec)
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec) reason = "папка архива " + o.archiveDir + ": " + ec.message();
    return !ec;
}

} // namespace

int RunLogCommand(const QStringList& args) {
    QCommandLineParser p;
    p.setApplicationDescription("Опрашивает прибор и пишет архив без окна, пока не получит "
                                "SIGINT или SIGTERM.");
    p.addOptions({
        {"port", "Порт по карте портов, как в окне (COM3).", "COMn"},
        {"device", "Адаптер по пути (/dev/serial/by-id/...).", "PATH"},
        {"baud", "Скорость, бит/с (9600).", "BAUD"},
        {"parity", "Чётность: none, odd, even, mark, space (odd).", "PARITY"},
        {"stop-bits", "Стоповые биты: 1 или 2 (1).", "N"},
        {"address", "Адрес прибора, 0...F (0).", "C"},
        {"interval", "Интервал опроса, с, от 0.01 (0.5).", "SECONDS"},
        {"archive-dir", "Папка архива (как у окна: ~/Documents/VG-57).", "DIR"},
        {"metrics", "Отдавать метрики Prometheus по адресу ХОСТ:ПОРТ.", "HOST:PORT"},
        {"metrics-label",
         "Постоянная метка метрик и тег показаний КЛЮЧ=ЗНАЧЕНИЕ (можно "
         "несколько).",
         "KEY=VALUE"},
    });
    AddInfluxOptions(p);
    AddMqttOptions(p);
    int exitCode = kExitOk;
    if (!ParseArguments(p, kCommand, args, exitCode)) return exitCode;
    TLogOptions options;
    TMetricsOptions metrics;
    std::string reason;
    TPushOptions push;
    std::vector<std::string> labels;
    for (const QString& l : p.values("metrics-label"))
        labels.push_back(l.toStdString());
    if (!ReadPushOptions(p, push, reason)) return UsageError(kCommand, reason);
    if (push.Any() && !p.isSet("metrics")) labels.clear(); // the labels are the pushes' tags
    if (!ReadOptions(p, options, reason) ||
        !ParseMetricsOptions(p.value("metrics").toStdString(), labels, metrics, reason))
        return UsageError(kCommand, reason);

    // A signal from here on stops the run: it ends any wait at once, and the run is stopped
    // once the event loop is back at the top.
    if (!platform::CatchStopSignals([](int) { platform::RequestQuit(); }))
        return Failure(QString::fromStdString(std::string("сигналы остановки не перехвачены: ") +
                                              std::strerror(errno)));
    if (!PrepareFolder(options, reason)) return Failure(QString::fromStdString(reason));

    TMetricsBoard board;
    std::unique_ptr<TMetricsServer> server;
    if (metrics.enabled) {
        server = std::make_unique<TMetricsServer>(board, metrics.labels);
        if (!server->Start(metrics.address, reason)) return Failure(QString::fromStdString(reason));
        const std::string& host = metrics.address.host;
        SayLine("метрики: http://" +
                (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                std::to_string(server->Port()) + "/metrics");
    }
    // Started before the run's first reading, so that its file is followed from its start.
    TGaugePush gaugePush(push, options.address, options.archiveDir, "", options.intervalMs / 1000.0,
                         [](const std::string& line) { SayLine(line); });
    if (!gaugePush.Start(reason)) return Failure(QString::fromStdString(reason));
    TLogSession session(options, [](const std::string& line) { SayLine(line); });
    session.SetReadingTap(gaugePush.Tap());
    session.Cycle().SetMetrics(&board);
    if (!session.Start(reason)) {
        session.Cycle().SetMetrics(nullptr);
        return Failure(QString::fromStdString(reason));
    }
    if (!platform::QuitRequested()) QCoreApplication::exec();
    session.Stop();
    session.Cycle().SetMetrics(nullptr);
    return kExitOk;
}

} // namespace vg57::cli
