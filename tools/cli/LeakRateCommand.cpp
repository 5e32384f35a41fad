// vg57-cli leak-rate: the leak rate by pressure rise over an interval of an archive.
#include "ArchiveDate.h"
#include "CliArchive.h"
#include "CliCommon.h"
#include "CsvExport.h"
#include "LeakOutput.h"
#include "LeakReport.h"

#include <charconv>
#include <cmath>

namespace vg57::cli {

namespace {

constexpr double kMinVolume = 0.001, kMaxVolume = 100000.0;

// "--limit VALUE UNIT" as one option value "VALUE UNIT", for the parser takes one value.
QStringList JoinLimit(QStringList args) {
    for (int i = 0; i + 2 < args.size(); ++i)
        if (args[i] == "--limit") {
            args[i] = "--limit=" + args[i + 1] + ' ' + args[i + 2];
            args.remove(i + 1, 2);
        }
    return args;
}

// A percentage from 0 to 100; empty when the text is none.
std::optional<double> Percent(const QString& text) {
    bool ok = false;
    const double v = text.toDouble(&ok); // '.' whatever the locale
    if (!ok || !(v >= 0 && v <= 100)) return std::nullopt;
    return v;
}

} // namespace

int RunLeakRateCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The leak rate by pressure rise, Q = V*dp/dt, over the archive's readings from --from to "
        "--to (inclusive): a line and a line with a saturating exponential (outgassing), chosen "
        "by Akaike's criterion.\nTIME is HH:MM:SS[.zzz] (its first "
        "occurrence from the file's first line on) or YYYY-MM-DDTHH:MM:SS[.zzz].\nExit 0 done, "
        "2 usage error, 3 unreadable archive, fewer than 5 readings or an unknown unit; a "
        "failed --limit is exit 0 with \"pass\": false.\nLimit units: Pa/h, mbar/h, Torr/h, "
        "um_Hg/h (rise rates), mbar*l/s, Pa*m3/s, Torr*l/s, sccm (throughputs).");
    parser.addPositionalArgument("ARCHIVE", "The archive file (yyyy_mm_dd hh_nn_ss.txt).");
    parser.addOption({"from", "Start of the interval.", "TIME"});
    parser.addOption({"to", "End of the interval.", "TIME"});
    parser.addOption({"volume", "Chamber volume in litres (0.001 to 100000).", "LITRES"});
    parser.addOption({"json", "Print one JSON object."});
    parser.addOption({"limit", "Pass/fail limit, e.g. --limit 1e-6 mbar*l/s.", "VALUE UNIT"});
    parser.addOption({"accuracy", "The gauge's accuracy, % of the reading (30).", "PERCENT"});
    parser.addOption({"volume-uncertainty", "The volume's uncertainty, % (0).", "PERCENT"});
    if (const auto done = ParseCommandLine(parser, "leak-rate", JoinLimit(args))) return *done;

    if (parser.positionalArguments().size() != 1) return UsageError("one ARCHIVE needed");
    const auto fromText = Required(parser, "from");
    if (!fromText) return kExitUsage;
    const auto toText = Required(parser, "to");
    if (!toText) return kExitUsage;
    const auto volumeText = Required(parser, "volume");
    if (!volumeText) return kExitUsage;
    const auto from = ParseCliTime(*fromText);
    if (!from) return UsageError("--from: not a TIME: " + *fromText);
    const auto to = ParseCliTime(*toText);
    if (!to) return UsageError("--to: not a TIME: " + *toText);
    bool ok = false;
    const double volume = volumeText->toDouble(&ok); // '.' whatever the locale
    if (!ok || !(volume >= kMinVolume && volume <= kMaxVolume))
        return UsageError("--volume: litres from 0.001 to 100000 needed, not " + *volumeText);
    TLeakOptions options;
    if (parser.isSet("accuracy")) {
        const auto v = Percent(parser.value("accuracy"));
        if (!v) return UsageError("--accuracy: a percentage from 0 to 100 needed");
        options.gaugeAccuracyPercent = *v;
    }
    if (parser.isSet("volume-uncertainty")) {
        const auto v = Percent(parser.value("volume-uncertainty"));
        if (!v) return UsageError("--volume-uncertainty: a percentage from 0 to 100 needed");
        options.volumeUncertaintyPercent = *v;
    }
    if (parser.isSet("limit")) {
        const QStringList parts = parser.value("limit").split(' ');
        bool ok = false;
        const double value = parts.value(0).toDouble(&ok);
        const auto unit = LimitUnitOfName(parts.value(1).toStdString());
        if (parts.size() != 2 || !ok || !(value > 0) || !unit)
            return UsageError("--limit: VALUE UNIT needed, e.g. 1e-6 mbar*l/s, not " +
                              parser.value("limit"));
        options.limit = TLimit{value, *unit};
    }

    TCliArchive archive;
    archive.path = parser.positionalArguments().front();
    archive.date = DateOfArchiveName(archive.path.toStdString());
    if (const auto problem = LoadCliArchive(archive)) return Failure(*problem);
    TurnIntoInstants(archive);
    const TPlaced start = PlaceTime(archive, *from);
    if (!start.problem.isEmpty()) return UsageError(start.problem);
    const TPlaced end = PlaceTime(archive, *to, start.value);
    if (!end.problem.isEmpty()) return UsageError(end.problem);
    if (end.value < start.value) return UsageError("--to lies before --from");

    const TArchiveData& d = archive.data;
    const TLeakReadings readings =
        SelectLeakReadings(d.times, d.pressures, ReadingUnits(d), start.value, end.value);
    const TLeakAnalysis a = AnalyseLeak(readings, volume, options);
    switch (a.problem) {
    case ELeakProblem::none:
        break;
    case ELeakProblem::unknownUnit:
        return Failure(QString("%1 readings in the interval have an unknown unit code")
                           .arg(readings.unknownUnits));
    case ELeakProblem::tooFewReadings:
        return Failure(QString("%1 readings in the interval, at least %2 needed")
                           .arg(readings.times.size())
                           .arg(kLeakMinReadings));
    case ELeakProblem::oneInstant:
        return Failure("every reading in the interval has the same time");
    }
    TLeakOutput out;
    out.result = &a.result;
    out.skippedLines = d.Skipped();
    // Dated readings are instants: written with their date and the offset then in force.
    TZoneRules zone(archive.zone);
    out.timeText = [&](double t) {
        if (!archive.instants) return ReadingTimeText(t).substr(ReadingTimeText(t).size() - 12);
        std::string text;
        AppendIsoTime(text, InstantOfDays(t), zone);
        return text;
    };
    PrintOut(parser.isSet("json") ? LeakJson(out) : LeakText(out));
    for (const QString& w : LeakCliWarnings(a.result))
        SayLine("warning: " + w.toStdString());
    return kExitOk;
}

} // namespace vg57::cli
