// vg57-cli push: archives sent to InfluxDB after the fact (a backfill), through the same cursors
// as the logger's push, so a second run sends nothing twice and a logger pushing the same files
// carries on where this stopped.
#include "CliCommon.h"
#include "PushOptions.h"

#include "LineProtocol.h"

#include <QFileInfo>

#include <cstring>
#include <map>

namespace vg57::cli {

namespace {

const char kCommand[] = "push";
const char kAddressChars[] = "0123456789ABCDEF";

// The gauge's address a file's name carries (" a5" before ".txt"), else `fallback`.
char AddressOfName(const QString& path, char fallback) {
    const QString name = QFileInfo(path).fileName();
    if (name.size() == 26 && name.mid(19, 2) == " a") return name.at(21).toUpper().toLatin1();
    return fallback;
}

} // namespace

int RunPushCommand(const QStringList& args) {
    QCommandLineParser p;
    p.setApplicationDescription("Sends archive files to InfluxDB from where the last push of each "
                                "stopped (its cursor beside the file).");
    p.addPositionalArgument("ARCHIVE", "Archive files (yyyy_mm_dd hh_nn_ss.txt).", "ARCHIVE...");
    p.addOptions({
        {"address", "The gauge's address tag for files whose names carry none (0).", "C"},
        {"metrics-label", "A constant tag KEY=VALUE (repeatable).", "KEY=VALUE"},
    });
    AddInfluxOptions(p);
    if (const std::optional<int> done = ParseCommandLine(p, kCommand, args)) return *done;
    TPushOptions options;
    std::string reason;
    if (!ReadPushOptions(p, options, reason, false)) return UsageError(kCommand, reason);
    if (!options.influx) return UsageError(kCommand, "--influx URL needed");
    const QStringList files = p.positionalArguments();
    if (files.isEmpty()) return UsageError(kCommand, "an archive file needed");
    char address = '0';
    if (p.isSet("address")) {
        const std::string a = p.value("address").toUpper().toStdString();
        if (a.size() != 1 || !std::strchr(kAddressChars, a[0]))
            return UsageError(kCommand, "--address: one of 0123456789ABCDEF");
        address = a[0];
    }
    std::map<char, std::vector<std::string>> byAddress;
    for (const QString& f : files) {
        if (!QFileInfo(f).isFile()) return Failure("can't read " + f);
        byAddress[AddressOfName(f, address)].push_back(f.toStdString());
    }

    TInfluxWriter writer(*options.influx);
    TInfluxPushCounts total;
    for (const auto& [gauge, paths] : byAddress) {
        TArchiveFollower follower(PointPrefix(gauge, options.labels));
        for (const std::string& path : paths)
            follower.AddFile(path);
        if (follower.Files().size() != paths.size())
            return Failure("an archive's name must carry its date: yyyy_mm_dd hh_nn_ss.txt");
        TInfluxPush push(follower, writer, [](const std::string& line) { SayLine(line); });
        const TInfluxPushCounts counts = push.RunToEnd();
        total.written += counts.written;
        total.refused += counts.refused;
        total.skipped += counts.skipped;
        if (counts.gaveUp) {
            PrintOut(QString("pushed %1 readings before giving up; run again to go on\n")
                         .arg(total.written));
            return Failure("stopped after repeated failures (above); each file's cursor keeps "
                           "its place");
        }
    }
    PrintOut(QString("pushed %1 readings, %2 refused by the server, %3 lines without a reading\n")
                 .arg(total.written)
                 .arg(total.refused)
                 .arg(total.skipped));
    return kExitOk;
}

} // namespace vg57::cli
