// vg57-cli export: an archive's readings as CSV.
#include "ArchiveDate.h"
#include "CliArchive.h"
#include "CliCommon.h"
#include "CsvExport.h"

namespace vg57::cli {

int RunExportCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The archive's readings as CSV: time,pressure,unit, the time in ISO 8601 with the UTC "
        "offset then in force (TZ names the zone). Readings whose lines carry no date take it "
        "from --date, else from the archive's name (yyyy_mm_dd hh_nn_ss.txt).\nTIME is "
        "HH:MM:SS[.zzz] or YYYY-MM-DDTHH:MM:SS[.zzz].\nExit 0 done, 2 usage error, 3 when a file "
        "can't be read or written.");
    parser.addPositionalArgument("ARCHIVE", "The archive file.");
    parser.addOption({"from", "Only readings from this time on.", "TIME"});
    parser.addOption({"to", "Only readings up to this time.", "TIME"});
    parser.addOption({"date", "The date of the archive's first line.", "YYYY-MM-DD"});
    parser.addOption({"csv", "The CSV file to write (replaced).", "OUT"});
    if (const auto done = ParseCommandLine(parser, "export", args)) return *done;

    if (parser.positionalArguments().size() != 1) return UsageError("one ARCHIVE needed");
    const auto out = Required(parser, "csv");
    if (!out) return kExitUsage;
    std::optional<TCliTime> from, to;
    if (parser.isSet("from") && !(from = ParseCliTime(parser.value("from"))))
        return UsageError("--from: not a TIME: " + parser.value("from"));
    if (parser.isSet("to") && !(to = ParseCliTime(parser.value("to"))))
        return UsageError("--to: not a TIME: " + parser.value("to"));

    TCliArchive archive;
    archive.path = parser.positionalArguments().front();
    if (parser.isSet("date")) {
        archive.date = ParseCliDate(parser.value("date"));
        if (!archive.date) return UsageError("--date: not a YYYY-MM-DD date");
    } else {
        archive.date = DateOfArchiveName(archive.path.toStdString());
    }
    if (const auto problem = LoadCliArchive(archive)) return Failure(*problem);
    // Lines that carry their own dates need none from the name or the command line.
    if (!archive.date && !archive.dated()) return UsageError("--date needed");
    TurnIntoInstants(archive);

    TCsvRange range;
    range.zone = archive.zone;
    std::optional<double> placedFrom;
    if (from) {
        const TPlaced p = PlaceTime(archive, *from);
        if (!p.problem.isEmpty()) return UsageError(p.problem);
        range.from = p.value;
        placedFrom = p.value;
    }
    if (to) {
        const TPlaced p = PlaceTime(archive, *to, placedFrom);
        if (!p.problem.isEmpty()) return UsageError(p.problem);
        range.to = p.value;
    }
    if (range.to < range.from) return UsageError("--to lies before --from");

    const TArchiveData& d = archive.data;
    std::size_t rows = 0;
    const std::string problem =
        ExportCsv(out->toStdString(), d.times, d.pressures, ReadingUnits(d), range, &rows);
    if (!problem.empty()) return Failure(QString::fromStdString(problem));
    PrintOut(QString("%1 readings written to %2\n").arg(rows).arg(*out));
    // Lines the reader could not take are no reading of the CSV: said, so nothing goes silently.
    if (d.Skipped() > 0)
        SayLine(std::to_string(rows) + " readings written, " + std::to_string(d.Skipped()) +
                " lines skipped");
    return kExitOk;
}

} // namespace vg57::cli
