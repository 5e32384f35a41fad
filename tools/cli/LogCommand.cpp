// vg57-cli log: the window's measurement run as a service. No line per reading; one line per
// change of state; SIGINT and SIGTERM stop it as Stop does; SIGHUP reopens the archive file.
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
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace vg57::cli {

namespace {

const char kCommand[] = "log";
const char kAddressChars[] = "0123456789ABCDEF"; // the gauge's addresses, as the window lists

// The options into `o`; false with the reason of a usage error.
bool ReadOptions(const QCommandLineParser& p, TLogOptions& o, std::string& reason) {
    const bool byPort = p.isSet("port"), byDevice = p.isSet("device");
    // Under the service unit the options come from a file: say that it is missing, not which
    // option is.
    if (const QString file = qEnvironmentVariable("VG57_ENV_FILE");
        !byPort && !byDevice && !file.isEmpty()) {
        reason = QFileInfo::exists(file)
                     ? file.toStdString() + ": VG57_ARGS не задаёт ни --port, ни --device"
                     : "нет файла " + file.toStdString() +
                           ": в нём задаются параметры прибора, например "
                           "VG57_ARGS=--device /dev/serial/by-id/...";
        return false;
    }
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
        // "--address 1,2,5", or the option repeated: the gauges on the line, polled in turn.
        o.addresses.clear();
        for (const QString& value : p.values("address"))
            for (const QString& item : value.split(',')) {
                const std::string a = item.trimmed().toUpper().toStdString();
                if (a.size() != 1 || !std::strchr(kAddressChars, a[0]))
                    return reason = "--address: знаки из 0123456789ABCDEF через запятую", false;
                if (std::find(o.addresses.begin(), o.addresses.end(), a[0]) != o.addresses.end())
                    return reason = "--address: адрес " + a + " задан дважды", false;
                o.addresses.push_back(a[0]);
            }
    }
    if (p.isSet("rts-on-send")) {
        const QStringList kinds = {"driver", "high", "low"};
        const qsizetype kind = kinds.indexOf(p.value("rts-on-send"));
        if (kind < 0) return reason = "--rts-on-send: high, low или driver", false;
        const TRtsOnSend levels[] = {TRtsOnSend::Driver, TRtsOnSend::High, TRtsOnSend::Low};
        o.rtsOnSend = levels[kind];
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

// Readings per second the line carries at most: each is two exchanges (the unit, then the
// pressure), a 5-character request and an 8-character reply each, every character with its
// start bit, parity and stop bits.
double ReadingsPerSecondOnTheWire(const TLogOptions& o) {
    const int bitsPerChar = 1 + 8 + (o.parity == pNone ? 0 : 1) + o.stopBits;
    const int charsPerReading = 2 * (5 + 8);
    return o.baud / static_cast<double>(bitsPerChar * charsPerReading);
}

// Whether a file can be made in `folder`: a folder that exists but can't be written would
// otherwise be found out only at the first reading, and then every second.
bool FolderWritable(const std::string& folder, std::string& reason) {
    std::string probe = (folder.empty() ? std::string(".") : folder) + "/.vg57-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        reason = "папка архива " + folder + " недоступна для записи: " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

// The archive folder as the window's unless given; false with the reason when it can't be made
// or written.
bool PrepareFolder(TLogOptions& o, std::string& reason) {
    if (o.archiveDir.empty()) {
        const TArchiveFolder folder = PrepareArchiveFolder();
        if (!folder.problem.empty()) SayLine(folder.problem);
        o.archiveDir = folder.path;
        return FolderWritable(o.archiveDir, reason);
    }
    std::error_code ec;
    std::filesystem::create_directories(o.archiveDir, ec);
    if (!ec && !std::filesystem::is_directory(o.archiveDir, ec) && !ec)
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec) reason = "папка архива " + o.archiveDir + ": " + ec.message();
    return !ec && FolderWritable(o.archiveDir, reason);
}

} // namespace

int RunLogCommand(const QStringList& args) {
    QCommandLineParser p;
    p.setApplicationDescription("Опрашивает прибор и пишет архив без окна, пока не получит "
                                "SIGINT или SIGTERM. SIGHUP открывает файл архива заново (после "
                                "ротации логов) и не прерывает работу.");
    p.addOptions({
        {"port", "Порт по карте портов, как в окне (COM3).", "COMn"},
        {"device", "Адаптер по пути (/dev/serial/by-id/...).", "PATH"},
        {"baud", "Скорость, бит/с (9600).", "BAUD"},
        {"parity", "Чётность: none, odd, even, mark, space (odd).", "PARITY"},
        {"stop-bits", "Стоповые биты: 1 или 2 (1).", "N"},
        {"address", "Адрес прибора, 0...F (0); несколько приборов на линии: 1,2,5.", "C[,C...]"},
        {"rts-on-send",
         "Уровень RTS при передаче по RS-485: high, low или driver (как задано драйвером).",
         "LEVEL"},
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

    // A stderr whose reader has gone must not end the logging: its lines are simply lost.
    std::signal(SIGPIPE, SIG_IGN);
    // A stop signal from here on stops the run: it ends any wait at once, and the run is
    // stopped once the event loop is back at the top. A hang-up reopens the archive instead.
    TLogSession* live = nullptr;
    const auto onSignal = [&live](int signal) {
        if (signal != SIGHUP)
            platform::RequestQuit();
        else if (live)
            live->ReopenArchive();
    };
    // The handler outlives this function: it must not keep `live` once it is gone.
    const auto forget =
        qScopeGuard([] { platform::CatchStopSignals([](int) { platform::RequestQuit(); }, true); });
    if (!platform::CatchStopSignals(onSignal, true))
        return Failure(QString::fromStdString(std::string("сигналы остановки не перехвачены: ") +
                                              std::strerror(errno)));
    if (!PrepareFolder(options, reason)) return Failure(QString::fromStdString(reason));

    // A push per gauge, started before the run's first reading so that its file is followed from
    // its start; declared before the session, which feeds them, so that they outlive it.
    std::vector<std::unique_ptr<TGaugePush>> pushes;
    for (char address : options.addresses) {
        const std::string suffix =
            options.addresses.size() > 1 ? std::string(" a") + address : std::string();
        pushes.push_back(std::make_unique<TGaugePush>(
            push, address, options.archiveDir, suffix, options.intervalMs / 1000.0,
            [](const std::string& line) { SayLine(line); }));
        if (!pushes.back()->Start(reason)) return Failure(QString::fromStdString(reason));
    }
    TLogSession session(options, [](const std::string& line) { SayLine(line); });
    // A board per gauge; with several, every sample carries its gauge's address.
    std::vector<std::unique_ptr<TMetricsBoard>> boards;
    for (std::size_t i = 0; i < session.GaugeCount(); ++i)
        boards.push_back(std::make_unique<TMetricsBoard>());
    TBusBoard busBoard;
    std::unique_ptr<TMetricsServer> server;
    if (metrics.enabled) {
        if (boards.size() == 1)
            server = std::make_unique<TMetricsServer>(*boards.front(), metrics.labels);
        else
            server = std::make_unique<TMetricsServer>(
                [&boards, &busBoard, labels = metrics.labels] {
                    std::vector<TMetricsSample> samples;
                    for (const auto& b : boards)
                        samples.push_back(b->Snapshot());
                    return MetricsExposition(samples, busBoard.Snapshot(), SteadySecondsNow(),
                                             labels);
                },
                metrics.labels);
        // An address of another machine is a setting to correct, as a malformed one is.
        if (!server->Start(metrics.address, reason))
            return server->AddressNotHere() ? UsageError(kCommand, reason)
                                            : Failure(QString::fromStdString(reason));
        const std::string& host = metrics.address.host;
        SayLine("метрики: http://" +
                (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                std::to_string(server->Port()) + "/metrics");
    }
    auto unhook = [&] {
        for (std::size_t i = 0; i < pushes.size(); ++i)
            session.Archive(i).onLineWritten = nullptr;
        session.SetBusMetrics(nullptr);
        for (std::size_t i = 0; i < boards.size(); ++i)
            session.Cycle(i).SetMetrics(nullptr);
    };
    for (std::size_t i = 0; i < boards.size(); ++i)
        session.Cycle(i).SetMetrics(boards[i].get());
    session.SetBusMetrics(&busBoard);
    for (std::size_t i = 0; i < pushes.size(); ++i) {
        session.SetReadingTap(i, pushes[i]->Tap());
        if (push.influx)
            session.Archive(i).onLineWritten = [gauge = pushes[i].get()] { gauge->ArchiveGrew(); };
    }
    if (!session.Start(reason)) {
        unhook();
        return Failure(QString::fromStdString(reason));
    }
    live = &session;
    // Allowed, but the readings come only as fast as the line carries them.
    if (const double perSecond = ReadingsPerSecondOnTheWire(options);
        options.intervalMs / 1000.0 < 1 / perSecond) {
        char number[32];
        std::snprintf(number, sizeof number, "%.0f", perSecond >= 1 ? perSecond : 1);
        SayLine("--interval " + p.value("interval").toStdString() + ": the line allows about " +
                number + " readings per second");
    }
    if (!platform::QuitRequested()) QCoreApplication::exec();
    live = nullptr;
    session.Stop();
    unhook();
    return kExitOk;
}

} // namespace vg57::cli
