// vg57-cli: the gauge's work without a window, one subcommand per task.
#include "CliCommon.h"
#include "EventLoop.h"
#include "Numbers.h"

#include <QCoreApplication>

#include <cstdio>

namespace vg57::cli {
int RunLogCommand(const QStringList& args);
}

namespace {

struct TSubcommand {
    const char* name;
    int (*run)(const QStringList& args); // the arguments after the subcommand's name
    const char* summary;
};

const TSubcommand kSubcommands[] = {
    {"log", vg57::cli::RunLogCommand, "опрашивать прибор и писать архив без окна (служба)"},
};

void PrintUsage(std::FILE* to) {
    std::fputs("Использование: vg57-cli КОМАНДА [ПАРАМЕТРЫ]\n\nКоманды:\n", to);
    for (const TSubcommand& c : kSubcommands)
        std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
    std::fputs("\nvg57-cli КОМАНДА --help: параметры команды.\n", to);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    vg57::platform::UseCNumbers();
    vg57::platform::InstallEventWatch();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        PrintUsage(stderr);
        return vg57::cli::kExitUsage;
    }
    if (args[1] == "--help" || args[1] == "-h") {
        PrintUsage(stdout);
        return vg57::cli::kExitOk;
    }
    for (const TSubcommand& c : kSubcommands)
        if (args[1] == QLatin1String(c.name)) return c.run(args.mid(2));
    vg57::cli::SayLine("неизвестная команда \"" + args[1].toStdString() + "\" (vg57-cli --help)");
    return vg57::cli::kExitUsage;
}
