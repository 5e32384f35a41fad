#include "CliCommon.h"

#include <QCoreApplication>

#include <cstdio>

namespace vg57::cli {

namespace {
void PrintErr(const QString& reason) {
    std::fprintf(stderr, "vg57-cli: %s\n", reason.toUtf8().constData());
}
} // namespace

int UsageError(const QString& reason) {
    PrintErr(reason);
    return kExitUsage;
}

int Failure(const QString& reason) {
    PrintErr(reason);
    return kExitFailed;
}

void PrintOut(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

std::optional<int> ParseCommandLine(QCommandLineParser& parser, const QString& command,
                                    const QStringList& args) {
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    parser.addOption(help);
    // Parsing wants the program's name first; the help then names the subcommand.
    if (!parser.parse(QStringList{"vg57-cli " + command} + args))
        return UsageError(parser.errorText());
    if (parser.isSet(help)) {
        // The help names the program by the path it was started with; name the subcommand.
        QString text = parser.helpText();
        const QString program = QCoreApplication::arguments().value(0);
        if (text.startsWith("Usage: " + program))
            text.replace(7, program.size(), "vg57-cli " + command);
        PrintOut(text);
        return kExitOk;
    }
    return std::nullopt;
}

std::optional<QString> Required(const QCommandLineParser& parser, const QString& name) {
    if (!parser.isSet(name)) {
        UsageError("--" + name + " needed");
        return std::nullopt;
    }
    return parser.value(name);
}

} // namespace vg57::cli
