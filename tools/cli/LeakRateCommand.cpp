// vg57-cli leak-rate: the leak rate by pressure rise over an interval of an archive.
#include "ArchiveDate.h"
#include "CliArchive.h"
#include "CliCommon.h"
#include "LeakReport.h"

#include <charconv>
#include <cmath>

namespace vg57::cli {

namespace {

constexpr double kMinVolume = 0.001, kMaxVolume = 100000.0;

// A JSON number: the shortest text that reads back the same double, '.' always.
QString Json(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
}

QString Quoted(std::string_view s) {
    return '"' + QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())) + '"';
}

// "HH:MM:SS.zzz" of a reading's wall-clock time.
std::string TimeText(double shown) {
    const std::string text = ReadingTimeText(shown);
    return text.substr(text.size() - 12);
}

// The result with its interval's ends as the wall clock showed them.
TLeakResult Shown(TLeakResult r, const TCliArchive& archive) {
    r.start = ShownTime(archive, r.start);
    r.end = ShownTime(archive, r.end);
    return r;
}

QString JsonReport(const TLeakResult& r) {
    const std::string unit(LatinUnitName(r.unit));
    const QStringList fields{
        "\"readings\": " + QString::number(r.readings),
        "\"start\": " + Quoted(TimeText(r.start)),
        "\"end\": " + Quoted(TimeText(r.end)),
        "\"seconds\": " + Json(r.seconds),
        "\"p_start\": " + Json(r.pStart),
        "\"p_end\": " + Json(r.pEnd),
        "\"unit\": " + Quoted(unit),
        "\"slope_per_s\": " + Json(r.slope),
        "\"slope_stderr\": " + Json(r.slopeStderr),
        "\"r2\": " + (r.r2 ? Json(*r.r2) : QString("null")),
        "\"leak_rate\": " + Json(r.leakRate),
        "\"leak_rate_unit\": " + Quoted(unit + "*l/s"),
        "\"leak_rate_pa_m3_s\": " + Json(r.leakRatePaM3s),
        "\"resolved\": " + QString(r.resolved ? "true" : "false"),
        "\"linear\": " + QString(r.linear ? "true" : "false"),
    };
    return "{" + fields.join(", ") + "}\n";
}

QString TextReport(const TLeakResult& r) {
    const QString unit = QString::fromUtf8(LatinUnitName(r.unit).data());
    auto fig = [](double v) { return QString::fromStdString(FigureText(v)); };
    QString out;
    out += QString("readings: %1\n").arg(r.readings);
    out += QString("start: %1\n").arg(QString::fromStdString(TimeText(r.start)));
    out += QString("end: %1\n").arg(QString::fromStdString(TimeText(r.end)));
    out += QString("seconds: %1\n").arg(fig(r.seconds));
    out += QString("p_start: %1 %2\n").arg(fig(r.pStart), unit);
    out += QString("p_end: %1 %2\n").arg(fig(r.pEnd), unit);
    out += QString("dp/dt: %1 +- %2 %3/s\n").arg(fig(r.slope), fig(r.slopeStderr), unit);
    out += QString("r2: %1\n").arg(r.r2 ? QString::fromStdString(FigureText(*r.r2, 6)) : "-");
    out += QString("volume: %1 l\n").arg(fig(r.volumeLitres));
    out += QString("leak rate: %1 %2*l/s\n").arg(fig(r.leakRate), unit);
    out += QString("leak rate: %1 Pa*m3/s\n").arg(fig(r.leakRatePaM3s));
    if (!r.resolved) out += "warning: the rise is under 5 steps of the gauge's resolution\n";
    if (!r.linear) out += "warning: the rise is not linear, probably outgassing\n";
    return out;
}

} // namespace

int RunLeakRateCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The leak rate by pressure rise, Q = V*dp/dt, from a least-squares line through the "
        "archive's readings from --from to --to (inclusive).\nTIME is HH:MM:SS[.zzz] (its first "
        "occurrence from the file's first line on) or YYYY-MM-DDTHH:MM:SS[.zzz].\nExit 0 done, "
        "2 usage error, 3 unreadable archive, fewer than 5 readings or an unknown unit.");
    parser.addPositionalArgument("ARCHIVE", "The archive file (yyyy_mm_dd hh_nn_ss.txt).");
    parser.addOption({"from", "Start of the interval.", "TIME"});
    parser.addOption({"to", "End of the interval.", "TIME"});
    parser.addOption({"volume", "Chamber volume in litres (0.001 to 100000).", "LITRES"});
    parser.addOption({"json", "Print one JSON object."});
    if (const auto done = ParseCommandLine(parser, "leak-rate", args)) return *done;

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
    const TLeakAnalysis a = AnalyseLeak(readings, volume);
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
    const TLeakResult shown = Shown(a.result, archive);
    PrintOut(parser.isSet("json") ? JsonReport(shown) : TextReport(shown));
    return kExitOk;
}

} // namespace vg57::cli
