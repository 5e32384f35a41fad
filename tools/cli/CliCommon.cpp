#include "CliCommon.h"

#include <cstdio>

namespace vg57::cli {

void SayLine(const std::string& text) {
    std::fprintf(stderr, "vg57-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

int UsageError(const std::string& command, const std::string& reason) {
    SayLine(reason + " (vg57-cli " + command + " --help)");
    return kExitUsage;
}

int Failure(const std::string& reason) {
    SayLine(reason);
    return kExitFailed;
}

bool ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int& exitCode) {
    parser.addHelpOption();
    if (!parser.parse(QStringList{"vg57-cli " + command} + args)) {
        exitCode = UsageError(command.toStdString(), parser.errorText().toStdString());
        return false;
    }
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        exitCode = kExitOk;
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

} // namespace vg57::cli
