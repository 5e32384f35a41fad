// The leak rate's figures as the operator reads them, in Russian: one list that the dialog shows
// line by line and the saved report writes as text.
#pragma once

#include "LeakRate.h"

#include <string>
#include <utility>
#include <vector>

namespace vg57 {

// A number to `digits` significant digits in the general number format ("1.235E-5",
// "0.001235").
std::string FigureText(double value, int digits = 4);
// An uncertainty to two significant digits in the gauge's exponent format: "2.8E-3", "1.5E2",
// "0" for zero.
std::string UncertaintyText(double value);
// A duration to two significant digits in seconds, minutes, hours or days: "45 с", "2.5 ч".
std::string DurationText(double seconds);
// "hh:nn:ss.zzz", with "dd.mm.yyyy " before it when the date-time carries a date.
std::string ReadingTimeText(double dateTime);

// Caption and value of each figure, in the order shown.
std::vector<std::pair<std::string, std::string>> LeakFigures(const TLeakResult& r);
// The verdict in words ("натекание", ..., "не определено"); empty when none was reached.
std::string VerdictText(ELeakVerdict verdict);
// The model the leak rate comes from and why it was chosen.
std::string ModelText(const TLeakResult& r);
std::string ModelReason(const TLeakResult& r);

// The judgements that apply: a pressure that does not rise, resolution, then nonlinearity.
std::vector<std::string> LeakWarnings(const TLeakResult& r);

// The caption of the model's reason, a longer text than the other figures.
inline constexpr const char* kReasonCaption = "Основание";
inline constexpr const char* kNotRisingText =
    "Давление не растёт: оценить натекание по этому интервалу нельзя";
inline constexpr const char* kLowResolutionText =
    "Разрешения прибора недостаточно для оценки натекания";
inline constexpr const char* kNonlinearText = "Рост давления нелинеен: вероятно, газовыделение";

// The whole report: a title, the archive file when there is one, every figure, the warnings.
std::string LeakReportText(const TLeakResult& r, const std::string& archivePath);

} // namespace vg57
