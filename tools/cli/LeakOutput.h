// What vg57-cli leak-rate prints: one JSON object with fixed keys (null where a figure does not
// apply or a verdict was not reached), or lines for a person; and its warnings for stderr.
#pragma once

#include "LeakRate.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace vg57::cli {

struct TLeakOutput {
    const TLeakResult* result = nullptr;
    std::size_t skippedLines = 0;
    // A reading's time as ISO 8601 with date and offset (the time of day alone when the
    // archive gives no date).
    std::function<std::string(double time)> timeText;
};

QString LeakJson(const TLeakOutput& out);
QString LeakText(const TLeakOutput& out);
// English, one a line: a pressure that does not rise, a rise under the resolution, a rise that
// is not linear.
QStringList LeakCliWarnings(const TLeakResult& r);

} // namespace vg57::cli
