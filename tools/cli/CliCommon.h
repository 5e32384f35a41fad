// What every vg57-cli subcommand shares: its exit codes, one-line reasons on stderr, and the
// parsing of its arguments.
#pragma once

#include <QCommandLineParser>
#include <QStringList>

#include <string>

namespace vg57::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;  // the command line is wrong
constexpr int kExitFailed = 3; // the work itself can't be done (a port, a file, an address)

// "vg57-cli: <text>" on stderr, flushed at once (a journal reads it line by line).
void SayLine(const std::string& text);
// The reason and a pointer to --help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& reason);
// The reason; returns kExitFailed.
int Failure(const std::string& reason);

// Parses the arguments after the subcommand's name. False with `exitCode` set when the command
// is done already: --help shown (0) or a usage error said (2).
bool ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int& exitCode);

} // namespace vg57::cli
