#include "PressureUnit.h"

#include "Codec.h"

#include <limits>

namespace vg57 {

double PascalsPerUnit(std::string_view unitCode) {
    return PascalsPer(UnitOfCode(unitCode));
}

double UnitFactor(std::string_view from, std::string_view to) {
    if (from == to) return 1.0;
    const double a = PascalsPerUnit(from), b = PascalsPerUnit(to);
    if (a == 0 || b == 0) return std::numeric_limits<double>::quiet_NaN();
    return a / b;
}

std::string UnitTitle(std::string_view unitCode) {
    std::string name = UnitName(unitCode);
    return name.empty() ? std::string(unitCode) : name;
}

EPressureUnit UnitOfCode(std::string_view code) {
    if (code == "0001") return EPressureUnit::pa;
    if (code == "0002") return EPressureUnit::torr;
    if (code == "0003") return EPressureUnit::mbar;
    return EPressureUnit::unknown;
}

double PascalsPer(EPressureUnit unit) {
    switch (unit) {
    case EPressureUnit::pa:
        return 1.0;
    case EPressureUnit::torr:
        return kPascalsPerTorr;
    case EPressureUnit::mbar:
        return kPascalsPerMbar;
    case EPressureUnit::unknown:
        break;
    }
    return 0.0;
}

double UnitFactor(EPressureUnit from, EPressureUnit to) {
    if (from == to || from == EPressureUnit::unknown || to == EPressureUnit::unknown) return 1.0;
    return PascalsPer(from) / PascalsPer(to);
}

std::string_view LatinUnitName(EPressureUnit unit) {
    static constexpr std::string_view kNames[] = {"", "Pa", "Torr", "mbar"};
    return kNames[static_cast<int>(unit) & 3];
}

std::string_view RussianUnitName(EPressureUnit unit) {
    static constexpr std::string_view kNames[] = {"", "Па", "Торр", "мбар"};
    return kNames[static_cast<int>(unit) & 3];
}

} // namespace vg57
