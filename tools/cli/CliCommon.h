// What every vg57-cli subcommand shares: exit codes, one-line reasons on stderr, and parsing its
// arguments with --help.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace vg57::cli {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;  // the command line is wrong
constexpr int kExitFailed = 3; // the work itself can't be done: a port, a file, an address

// "vg57-cli: <text>" on stderr, flushed at once (a journal reads it line by line).
void SayLine(const std::string& text);
// "vg57-cli: <reason>" on stderr; returns kExitUsage.
int UsageError(const QString& reason);
// The reason and a pointer to the subcommand's --help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& reason);
// "vg57-cli: <reason>" on stderr; returns kExitFailed.
int Failure(const QString& reason);
// Text to stdout as UTF-8.
void PrintOut(const QString& text);

// Parses `args` (the arguments after the subcommand's name) for `command`, with --help added.
// Empty when the command is to go on; otherwise the exit code: 0 after printing the help, 2
// after a usage error.
std::optional<int> ParseCommandLine(QCommandLineParser& parser, const QString& command,
                                    const QStringList& args);
// The same for a subcommand that takes no positional argument. False with `exitCode` set when
// the command is done already.
bool ParseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                    int& exitCode);

// A required option's value; empty (and the reason printed) when it is missing.
std::optional<QString> Required(const QCommandLineParser& parser, const QString& name);

} // namespace vg57::cli
