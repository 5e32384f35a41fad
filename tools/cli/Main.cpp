// vg57-cli: the gauge's work for scripts and machines without a screen. Each subcommand lives in
// its own file; this one only dispatches.
#include "CliCommon.h"
#include "EventLoop.h"
#include "Numbers.h"

#include <QCoreApplication>

namespace vg57::cli {
int RunLogCommand(const QStringList& args);
int RunLeakRateCommand(const QStringList& args);
int RunExportCommand(const QStringList& args);
int RunPushCommand(const QStringList& args);
} // namespace vg57::cli

namespace {

struct TCommand {
    const char* name;
    int (*run)(const QStringList& args); // the arguments after the subcommand's name
    const char* summary;
};

const TCommand kCommands[] = {
    {"log", vg57::cli::RunLogCommand,
     "(--port COMn | --device PATH) [...]: poll the gauge and archive without a window"},
    {"leak-rate", vg57::cli::RunLeakRateCommand,
     "ARCHIVE --from TIME --to TIME --volume LITRES [--json]: the leak rate by pressure rise"},
    {"export", vg57::cli::RunExportCommand,
     "ARCHIVE [--from TIME] [--to TIME] [--date YYYY-MM-DD] --csv OUT: readings as CSV"},
    {"push", vg57::cli::RunPushCommand,
     "ARCHIVE... --influx URL [--influx-auth-file FILE]: send archives to InfluxDB (backfill)"},
};

QString Usage() {
    QString text = "Usage: vg57-cli COMMAND [ARGUMENTS]   (vg57-cli COMMAND --help for more)\n\n"
                   "Commands:\n";
    for (const TCommand& c : kCommands)
        text += QString("  %1 %2\n").arg(QString::fromLatin1(c.name), QString::fromUtf8(c.summary));
    text += "\nExit status: 0 done, 2 usage error, 3 the work can't be done.\n";
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vg57-cli");
    vg57::platform::UseCNumbers();
    vg57::platform::InstallEventWatch();
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) return vg57::cli::UsageError("a command needed; see vg57-cli --help");
    const QString name = args.takeFirst();
    if (name == "--help" || name == "-h" || name == "help") {
        vg57::cli::PrintOut(Usage());
        return vg57::cli::kExitOk;
    }
    for (const TCommand& c : kCommands)
        if (name == QLatin1String(c.name)) return c.run(args);
    return vg57::cli::UsageError("unknown command " + name + "; see vg57-cli --help");
}
