#include "CliCommon.h"

#include <QCoreApplication>

#include <cstdio>

namespace vg57::cli {

void SayLine(const std::string& text) {
    std::fprintf(stderr, "vg57-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

int UsageError(const QString& reason) {
    SayLine(reason.toStdString());
    return kExitUsage;
}

int UsageError(const std::string& command, const std::string& reason) {
    SayLine(reason + " (vg57-cli " + command + " --help)");
    return kExitUsage;
}

int Failure(const QString& reason) {
    SayLine(reason.toStdString());
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
        return UsageError(command.toStdString(), parser.errorText().toStdString());
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

bool ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int& exitCode) {
    if (const std::optional<int> done = ParseCommandLine(parser, command, args)) {
        exitCode = *done;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        exitCode = UsageError(command.toStdString(),
                              "лишний аргумент \"" +
                                  parser.positionalArguments().front().toStdString() + "\"");
        return false;
    }
    return true;
}

std::optional<QString> Required(const QCommandLineParser& parser, const QString& name) {
    if (!parser.isSet(name)) {
        UsageError("--" + name + " needed");
        return std::nullopt;
    }
    return parser.value(name);
}

} // namespace vg57::cli
