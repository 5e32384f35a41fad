#include "PressureUnit.h"

namespace vg57 {

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
