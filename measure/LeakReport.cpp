#include "LeakReport.h"

#include "ArchiveFormat.h"
#include "NumberFormat.h"

#include <charconv>
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

std::vector<std::pair<std::string, std::string>> LeakFigures(const TLeakResult& r) {
    const std::string unit(RussianUnitName(r.unit));
    return {
        {"Начало интервала", ReadingTimeText(r.start)},
        {"Конец интервала", ReadingTimeText(r.end)},
        {"Длительность", FigureText(r.seconds) + " с"},
        {"Число показаний", std::to_string(r.readings)},
        {"Давление в начале", FigureText(r.pStart) + " " + unit},
        {"Давление в конце", FigureText(r.pEnd) + " " + unit},
        {"dp/dt", FigureText(r.slope) + " ± " + FigureText(r.slopeStderr) + " " + unit + "/с"},
        {"Объём камеры", FigureText(r.volumeLitres) + " л"},
        {"Q", FigureText(r.leakRate) + " " + unit + "·л/с"},
        {"Q в СИ", FigureText(r.leakRatePaM3s) + " Па·м³/с"},
        // A good fit differs from 1 only in the fifth digit or later.
        {"R²", r.r2 ? FigureText(*r.r2, 6) : "—"},
    };
}

std::vector<std::string> LeakWarnings(const TLeakResult& r) {
    std::vector<std::string> out;
    if (!r.resolved) out.emplace_back(kLowResolutionText);
    if (!r.linear) out.emplace_back(kNonlinearText);
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
    return text;
}

} // namespace vg57
