#include "LineProtocol.h"

#include "PressureUnit.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

void AppendNumber(std::string& out, double value) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

} // namespace

std::string EscapeTag(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == ',' || c == ' ' || c == '=' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string PointPrefix(char address, std::vector<TMetricLabel> labels) {
    labels.push_back({"address", std::string(1, address)});
    std::sort(labels.begin(), labels.end(),
              [](const TMetricLabel& a, const TMetricLabel& b) { return a.name < b.name; });
    std::string out = "vg57";
    for (const TMetricLabel& l : labels)
        out += ',' + EscapeTag(l.name) + '=' + EscapeTag(l.value);
    return out;
}

bool AppendPoint(std::string& out, std::string_view prefix, std::string_view unitCode,
                 double pressure, std::int64_t unixMs) {
    const double perUnit = PascalsPerUnit(unitCode);
    if (!std::isfinite(pressure) || !std::isfinite(pressure * perUnit)) return false;
    const std::string_view name = LatinUnitName(UnitOfCode(unitCode));
    out += prefix;
    if (!name.empty() || !unitCode.empty()) {
        out += ",unit=";
        out += name.empty() ? EscapeTag(unitCode) : std::string(name);
    }
    out += " pressure=";
    AppendNumber(out, pressure);
    if (perUnit > 0) {
        out += ",pascals=";
        AppendNumber(out, pressure * perUnit);
    }
    out += ' ';
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, unixMs * 1'000'000);
    out.append(buf, res.ptr);
    out += '\n';
    return true;
}

} // namespace vg57
