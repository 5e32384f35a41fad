#include "LeakReport.h"

#include "ArchiveFormat.h"
#include "NumberFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vg57 {

std::string FigureText(double value, int digits) {
    // Rounded through its decimal text, so that the general format shows no binary remainder.
    char buf[40];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
    double rounded = value;
    std::from_chars(buf, res.ptr, rounded);
    return FormatGeneral(rounded);
}

std::string UncertaintyText(double value) {
    if (value == 0) return "0";
    if (!std::isfinite(value)) return "—";
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 1);
    // "2.8e-03" -> "2.8E-3"
    const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t e = text.find('e');
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    return std::string(text.substr(0, e)) + "E" + std::to_string(exponent);
}

std::string DurationText(double seconds) {
    if (seconds < 120) return FigureText(seconds, 2) + " с";
    if (seconds < 7200) return FigureText(seconds / 60, 2) + " мин";
    if (seconds < 172800) return FigureText(seconds / 3600, 2) + " ч";
    return FigureText(seconds / 86400, 2) + " сут";
}

std::string VerdictText(ELeakVerdict verdict) {
    switch (verdict) {
    case ELeakVerdict::leak:
        return "натекание";
    case ELeakVerdict::outgassing:
        return "газовыделение";
    case ELeakVerdict::leakAndOutgassing:
        return "натекание и газовыделение";
    case ELeakVerdict::undecided:
        return "не определено";
    case ELeakVerdict::none:
        break;
    }
    return {};
}

std::string ModelText(const TLeakResult& r) {
    if (r.rise.model == ELeakModel::line) return "прямая";
    return "прямая и насыщение, τ = " + FigureText(r.rise.saturating.tau, 3) + " с";
}

std::string ModelReason(const TLeakResult& r) {
    const TRiseJudgement& j = r.rise;
    if (!r.rising) return "давление не растёт";
    if (!r.resolved)
        return "подъём " + FigureText(j.steps, 2) + " шага прибора, меньше " +
               FigureText(kResolutionSteps) + ": модели не сравнивались";
    std::string text = "AIC прямой " + FigureText(j.aicLine, 5);
    if (j.saturating.ok)
        text += ", с насыщением " + FigureText(j.aicSaturating, 5) + ", изгиб " +
                FigureText(j.saturating.Bend(r.seconds) / j.step, 2) + " шага";
    if (j.model == ELeakModel::lineAndSaturating)
        text += ": насыщение снижает AIC больше чем на " + FigureText(kAicMargin) +
                " и изгибает подъём не меньше чем на шаг";
    else if (j.saturating.amplitude < 0 && j.verdict == ELeakVerdict::undecided)
        text += ": подъём ускоряется";
    else
        text += ": насыщение не подтверждено";
    if (r.linear)
        text += *r.linear ? "; половины интервала согласуются" : "; наклоны половин расходятся";
    return text;
}

std::string ReadingTimeText(double dateTime) {
    char buf[40];
    if (dateTime >= 1.0) {
        const TLocalTime t = LocalTimeOf(dateTime);
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d.%03d", t.day, t.month, t.year,
                      t.hour, t.minute, t.second, t.millisecond);
    } else {
        // A time of day of an undated file, perhaps a day or more after its first line.
        const TLocalTime t = LocalTimeOf(dateTime - static_cast<long long>(dateTime) + 2.0);
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                      t.millisecond);
    }
    return buf;
}

namespace {
std::string Plain(double value, const std::string& unit) {
    return FigureText(value) + " " + unit;
}
std::string WithError(double value, double error, const std::string& unit) {
    return FigureText(value) + " ± " + UncertaintyText(error) + " " + unit;
}
} // namespace

std::vector<std::pair<std::string, std::string>> LeakFigures(const TLeakResult& r) {
    const std::string unit(RussianUnitName(r.unit));
    const std::string perSecond = unit + "/с", throughput = unit + "·л/с";
    const bool measured = r.rising && r.resolved;
    // Q in one unit: "value ± error", "< limit" for a rise under the resolution, "—" otherwise.
    const double toPaM3s = PascalsPer(r.unit) * kCubicMetresPerLitre;
    auto q = [&](double perPaM3s, const std::string& name) -> std::string {
        const double f = toPaM3s / perPaM3s;
        if (r.upperLimit) return "< " + Plain(*r.upperLimit * f, name);
        if (!measured) return "—";
        return WithError(r.leakRate * f, r.leakRateUncertainty * f, name);
    };
    const TLeakOptions& o = r.options;
    std::string net = "—", limit = "—", threshold = "—";
    if (r.netLeakRatePaM3s) net = WithError(*r.netLeakRatePaM3s, r.netUncertaintyPaM3s, "Па·м³/с");
    if (o.limit) {
        limit = FigureText(o.limit->value) + " " + std::string(RussianLimitUnit(o.limit->unit));
        if (r.pass) limit += *r.pass ? ": Годен" : ": Не годен";
    }
    if (o.threshold)
        threshold =
            r.secondsToThreshold ? DurationText(*r.secondsToThreshold) : "не будет достигнуто";
    const std::string source = r.rise.uncertaintySource == ESlopeUncertainty::quantisation
                                   ? " (по шагу прибора)"
                                   : " (по разбросу)";
    const std::string verdict = VerdictText(r.rise.verdict);
    return {
        {"Начало интервала", ReadingTimeText(r.start)},
        {"Конец интервала", ReadingTimeText(r.end)},
        {"Длительность", FigureText(r.seconds) + " с"},
        {"Число показаний", std::to_string(r.readings)},
        {"Давление в начале", Plain(r.pStart, unit)},
        {"Давление в конце", Plain(r.pEnd, unit)},
        {"dp/dt", WithError(r.slope, r.slopeStderr, perSecond)},
        {"Шаг показаний",
         Plain(r.step, unit) + ", подъём " + FigureText(r.rise.steps, 2) + " шага"},
        {"Вывод", verdict.empty() ? "—" : verdict},
        {"Модель", ModelText(r)},
        {kReasonCaption, ModelReason(r)},
        {"Рост от натекания",
         measured ? WithError(r.rise.leakSlope, r.slopeUncertainty, perSecond) + source : "—"},
        {"Рост за час", measured ? Plain(r.risePerHour, unit + "/ч") : "—"},
        {"Объём камеры",
         FigureText(r.volumeLitres) + " л ± " + FigureText(o.volumeUncertaintyPercent, 2) + " %"},
        {"Точность датчика", FigureText(o.gaugeAccuracyPercent, 2) + " % от показания"},
        {"Q", q(toPaM3s, throughput)},
        {"Q в СИ", q(1.0, "Па·м³/с")},
        {"Q, мбар·л/с", q(kPaM3sPerMbarLs, "мбар·л/с")},
        {"Q, атм·см³/с", q(kPaM3sPerAtmCcS, "атм·см³/с")},
        {"Q, sccm", q(kPaM3sPerSccm, "sccm")},
        {"Фон", o.baselinePaM3s ? WithError(*o.baselinePaM3s, o.baselineUncertaintyPaM3s, "Па·м³/с")
                                : "—"},
        {"Q за вычетом фона", net},
        {"Норма", limit},
        {"Время до " + (o.threshold ? Plain(*o.threshold, unit) : std::string("порога")),
         threshold},
        // A good fit differs from 1 only in the fifth digit or later.
        {"R²", r.r2 ? FigureText(*r.r2, 6) : "—"},
    };
}

std::vector<std::string> LeakWarnings(const TLeakResult& r) {
    std::vector<std::string> out;
    if (!r.rising && r.resolved) out.emplace_back(kNotRisingText);
    if (!r.resolved) out.emplace_back(kLowResolutionText);
    const ELeakVerdict v = r.rise.verdict;
    if (v == ELeakVerdict::outgassing || v == ELeakVerdict::leakAndOutgassing || r.linear == false)
        out.emplace_back(kNonlinearText);
    return out;
}

std::string LeakReportText(const TLeakResult& r, const std::string& archivePath) {
    std::string text = "Скорость натекания по росту давления\n";
    if (!archivePath.empty()) text += "Файл архива: " + archivePath + "\n";
    text += "\n";
    for (const auto& [caption, value] : LeakFigures(r))
        text += caption + ": " + value + "\n";
    const auto warnings = LeakWarnings(r);
    if (!warnings.empty()) text += "\n";
    for (const std::string& w : warnings)
        text += w + "\n";
    if (!r.slopes.empty()) {
        const std::string unit(RussianUnitName(r.unit));
        text += "\ndp/dt в скользящих окнах (середина окна от начала интервала):\n";
        for (const TSlopePoint& s : r.slopes)
            text += FigureText(s.t) + " с: " + FigureText(s.slope) + " ± " +
                    UncertaintyText(s.stderr_) + " " + unit + "/с\n";
    }
    return text;
}

} // namespace vg57
