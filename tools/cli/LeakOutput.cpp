#include "LeakOutput.h"

#include "LeakReport.h"

#include <charconv>
#include <cmath>

namespace vg57::cli {

namespace {

// A JSON number: the shortest text that reads back the same double, '.' always.
QString Json(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
}

QString Json(const std::optional<double>& v) {
    return v ? Json(*v) : QString("null");
}

QString Json(const std::optional<bool>& v) {
    return v ? QString(*v ? "true" : "false") : QString("null");
}

QString Quoted(std::string_view s) {
    return '"' + QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())) + '"';
}

const char* VerdictKey(ELeakVerdict v) {
    switch (v) {
    case ELeakVerdict::leak:
        return "\"leak\"";
    case ELeakVerdict::outgassing:
        return "\"outgassing\"";
    case ELeakVerdict::leakAndOutgassing:
        return "\"leak_and_outgassing\"";
    case ELeakVerdict::undecided:
        return "\"undecided\"";
    case ELeakVerdict::none:
        break;
    }
    return "null";
}

const char* ModelKey(const TLeakResult& r) {
    return r.rise.model == ELeakModel::line ? "line" : "line_saturating";
}

const char* SourceKey(const TLeakResult& r) {
    return r.rise.uncertaintySource == ESlopeUncertainty::quantisation ? "quantisation"
                                                                       : "regression";
}

// A figure of the leak itself: none when the pressure does not rise.
std::optional<double> IfRising(const TLeakResult& r, double v) {
    return r.rising ? std::optional<double>(v) : std::nullopt;
}

} // namespace

QString LeakJson(const TLeakOutput& out) {
    const TLeakResult& r = *out.result;
    const std::string unit(LatinUnitName(r.unit));
    QString limit = "null";
    if (r.options.limit)
        limit = "{\"value\": " + Json(r.options.limit->value) +
                ", \"unit\": " + Quoted(LatinLimitUnit(r.options.limit->unit)) + "}";
    const QStringList fields{
        "\"readings\": " + QString::number(r.readings),
        "\"start\": " + Quoted(out.timeText(r.start)),
        "\"end\": " + Quoted(out.timeText(r.end)),
        "\"seconds\": " + Json(r.seconds),
        "\"p_start\": " + Json(r.pStart),
        "\"p_end\": " + Json(r.pEnd),
        "\"unit\": " + Quoted(unit),
        "\"slope_per_s\": " + Json(r.slope),
        "\"slope_stderr\": " + Json(r.slopeStderr),
        "\"r2\": " + Json(r.r2),
        "\"leak_rate\": " + Json(IfRising(r, r.leakRate)),
        "\"leak_rate_unit\": " + Quoted(unit + "*l/s"),
        "\"leak_rate_pa_m3_s\": " + Json(IfRising(r, r.leakRatePaM3s)),
        "\"resolved\": " + Json(std::optional<bool>(r.resolved)),
        "\"linear\": " + Json(r.linear),
        "\"verdict\": " + QString(VerdictKey(r.rise.verdict)),
        "\"model\": " + Quoted(ModelKey(r)),
        "\"rising\": " + Json(std::optional<bool>(r.rising)),
        "\"leak_rate_upper_limit\": " + Json(r.upperLimit),
        "\"leak_rate_mbar_l_s\": " + Json(IfRising(r, r.leakRateMbarLs)),
        "\"leak_rate_atm_cc_s\": " + Json(IfRising(r, r.leakRateAtmCcS)),
        "\"leak_rate_sccm\": " + Json(IfRising(r, r.leakRateSccm)),
        "\"rise_per_hour\": " + Json(IfRising(r, r.risePerHour)),
        "\"slope_uncertainty\": " + Json(IfRising(r, r.slopeUncertainty)),
        "\"leak_rate_uncertainty\": " + Json(IfRising(r, r.leakRateUncertainty)),
        "\"uncertainty_source\": " + Quoted(SourceKey(r)),
        "\"gauge_accuracy_percent\": " + Json(r.options.gaugeAccuracyPercent),
        "\"volume_uncertainty_percent\": " + Json(r.options.volumeUncertaintyPercent),
        "\"skipped_lines\": " + QString::number(out.skippedLines),
        "\"limit\": " + limit,
        "\"pass\": " + Json(r.pass),
    };
    return "{" + fields.join(", ") + "}\n";
}

QString LeakText(const TLeakOutput& out) {
    const TLeakResult& r = *out.result;
    const QString unit = QString::fromUtf8(LatinUnitName(r.unit).data());
    auto fig = [](double v) { return QString::fromStdString(FigureText(v)); };
    auto err = [](double v) { return QString::fromStdString(UncertaintyText(v)); };
    QString text;
    text += QString("readings: %1\n").arg(r.readings);
    text += QString("start: %1\n").arg(QString::fromStdString(out.timeText(r.start)));
    text += QString("end: %1\n").arg(QString::fromStdString(out.timeText(r.end)));
    text += QString("seconds: %1\n").arg(fig(r.seconds));
    text += QString("p_start: %1 %2\n").arg(fig(r.pStart), unit);
    text += QString("p_end: %1 %2\n").arg(fig(r.pEnd), unit);
    text += QString("dp/dt: %1 +- %2 %3/s\n").arg(fig(r.slope), err(r.slopeStderr), unit);
    text += QString("r2: %1\n").arg(r.r2 ? QString::fromStdString(FigureText(*r.r2, 6)) : "-");
    text += QString("volume: %1 l\n").arg(fig(r.volumeLitres));
    text += QString("verdict: %1\n").arg(QString(VerdictKey(r.rise.verdict)).remove('"'));
    text += QString("model: %1\n").arg(ModelKey(r));
    if (r.upperLimit) {
        text += QString("leak rate: < %1 %2*l/s\n").arg(fig(*r.upperLimit), unit);
    } else if (r.rising) {
        const double k = PascalsPer(r.unit) * kCubicMetresPerLitre; // Pa·m³ per unit·l
        const QString u = err(r.leakRateUncertainty), uSi = err(r.leakRateUncertainty * k);
        text += QString("leak rate: %1 +- %2 %3*l/s (uncertainty from the %4)\n")
                    .arg(fig(r.leakRate), u, unit, SourceKey(r));
        text += QString("leak rate: %1 +- %2 Pa*m3/s\n").arg(fig(r.leakRatePaM3s), uSi);
        text += QString("leak rate: %1 mbar*l/s, %2 atm*cc/s, %3 sccm\n")
                    .arg(fig(r.leakRateMbarLs), fig(r.leakRateAtmCcS), fig(r.leakRateSccm));
        text += QString("rise: %1 %2/h\n").arg(fig(r.risePerHour), unit);
    }
    if (r.options.limit)
        text += QString("limit: %1 %2: %3\n")
                    .arg(fig(r.options.limit->value),
                         QString::fromUtf8(LatinLimitUnit(r.options.limit->unit).data()),
                         r.pass ? (*r.pass ? "pass" : "fail") : "-");
    text += QString("skipped lines: %1\n").arg(out.skippedLines);
    return text;
}

QStringList LeakCliWarnings(const TLeakResult& r) {
    QStringList out;
    if (!r.rising && r.resolved) out << "the pressure does not rise: no leak rate";
    if (!r.resolved)
        out << QString("the rise is under %1 steps of the gauge's resolution: an upper limit only")
                   .arg(kResolutionSteps);
    const ELeakVerdict v = r.rise.verdict;
    if (v == ELeakVerdict::outgassing || v == ELeakVerdict::leakAndOutgassing || r.linear == false)
        out << "the rise is not linear, probably outgassing";
    return out;
}

} // namespace vg57::cli
