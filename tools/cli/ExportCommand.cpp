// vg57-cli export: an archive's readings as CSV; the archives of several gauges of a run in one
// file, with an address column.
#include "ArchiveDate.h"
#include "ArchiveFormat.h"
#include "CliArchive.h"
#include "CliCommon.h"
#include "CsvExport.h"

#include <set>

namespace vg57::cli {

namespace {

int HexValue(char address) {
    return address <= '9' ? address - '0' : address - 'A' + 10;
}

} // namespace

int RunExportCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The archive's readings as CSV: time,pressure,unit, the time in ISO 8601 with the UTC "
        "offset then in force (TZ names the zone). Readings whose lines carry no date take it "
        "from --date, else from the archive's name (yyyy_mm_dd hh_nn_ss.txt).\nSeveral "
        "ARCHIVEs, one per gauge, named with its address (yyyy_mm_dd hh_nn_ss a5.txt), go into "
        "one file with a fourth column, address (0-9, A-F): time,pressure,unit,address, rows in "
        "time order, equal times by address. --from and --to are then placed among the first "
        "ARCHIVE's readings.\nTIME is HH:MM:SS[.zzz] or YYYY-MM-DDTHH:MM:SS[.zzz].\nExit 0 done, 2 "
        "usage error, 3 when a file can't be read or written.");
    parser.addPositionalArgument("ARCHIVE", "The archive file; or one per gauge.",
                                 "ARCHIVE [ARCHIVE...]");
    parser.addOption({"from", "Only readings from this time on.", "TIME"});
    parser.addOption({"to", "Only readings up to this time.", "TIME"});
    parser.addOption({"date", "The date of the archive's first line.", "YYYY-MM-DD"});
    parser.addOption({"csv", "The CSV file to write (replaced).", "OUT"});
    if (const auto done = ParseCommandLine(parser, "export", args)) return *done;

    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) return UsageError("an ARCHIVE needed");
    const bool several = paths.size() > 1;
    std::set<char> addresses;
    for (const QString& path : paths) {
        if (!several) break;
        const auto address = ArchiveNameAddress(path.toStdString());
        if (!address)
            return UsageError("several ARCHIVEs must each name their gauge "
                              "(yyyy_mm_dd hh_nn_ss a5.txt): " +
                              path);
        if (!addresses.insert(*address).second)
            return UsageError(QString("two ARCHIVEs of gauge %1").arg(QChar(*address)));
    }
    const auto out = Required(parser, "csv");
    if (!out) return kExitUsage;
    std::optional<TCliTime> from, to;
    if (parser.isSet("from") && !(from = ParseCliTime(parser.value("from"))))
        return UsageError("--from: not a TIME: " + parser.value("from"));
    if (parser.isSet("to") && !(to = ParseCliTime(parser.value("to"))))
        return UsageError("--to: not a TIME: " + parser.value("to"));
    std::optional<double> date;
    if (parser.isSet("date") && !(date = ParseCliDate(parser.value("date"))))
        return UsageError("--date: not a YYYY-MM-DD date");

    std::vector<TCliArchive> archives(static_cast<std::size_t>(paths.size()));
    for (std::size_t k = 0; k < archives.size(); ++k) {
        TCliArchive& archive = archives[k];
        archive.path = paths[static_cast<qsizetype>(k)];
        archive.date = date ? date : DateOfArchiveName(archive.path.toStdString());
        if (const auto problem = LoadCliArchive(archive)) return Failure(*problem);
        // Lines that carry their own dates need none from the name or the command line.
        if (!archive.date && !archive.dated()) return UsageError("--date needed");
        TurnIntoInstants(archive);
    }

    const TCliArchive& first = archives.front();
    TCsvRange range;
    range.zone = first.zone;
    std::optional<double> placedFrom;
    if (from) {
        const TPlaced p = PlaceTime(first, *from);
        if (!p.problem.isEmpty()) return UsageError(p.problem);
        range.from = p.value;
        placedFrom = p.value;
    }
    if (to) {
        const TPlaced p = PlaceTime(first, *to, placedFrom);
        if (!p.problem.isEmpty()) return UsageError(p.problem);
        range.to = p.value;
    }
    if (range.to < range.from) return UsageError("--to lies before --from");

    std::size_t rows = 0, skipped = 0;
    std::string problem;
    if (several) {
        std::vector<TCsvGauge> gauges;
        for (TCliArchive& a : archives) {
            skipped += a.data.Skipped();
            const char address = *ArchiveNameAddress(a.path.toStdString());
            std::vector<EPressureUnit> units = ReadingUnits(a.data);
            gauges.push_back({HexValue(address), std::move(a.data.times),
                              std::move(a.data.pressures), std::move(units)});
        }
        problem = ExportCsvGauges(out->toStdString(), gauges, range, &rows);
    } else {
        const TArchiveData& d = first.data;
        skipped = d.Skipped();
        problem =
            ExportCsv(out->toStdString(), d.times, d.pressures, ReadingUnits(d), range, &rows);
    }
    if (!problem.empty()) return Failure(QString::fromStdString(problem));
    PrintOut(QString("%1 readings written to %2\n").arg(rows).arg(*out));
    // Lines the reader could not take are no reading of the CSV: said, so nothing goes silently.
    if (skipped > 0)
        SayLine(std::to_string(rows) + " readings written, " + std::to_string(skipped) +
                " lines skipped");
    return kExitOk;
}

} // namespace vg57::cli
