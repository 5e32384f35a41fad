#include "PressureUnit.h"

#include "Codec.h"

#include <limits>

namespace vg57 {

double PascalsPerUnit(std::string_view unitCode) {
    if (unitCode == "0001") return 1.0;
    if (unitCode == "0002") return kPascalsPerTorr;
    if (unitCode == "0003") return kPascalsPerMbar;
    return 0.0;
}

double UnitFactor(std::string_view from, std::string_view to) {
    if (from == to) return 1.0;
    const double a = PascalsPerUnit(from), b = PascalsPerUnit(to);
    if (a == 0 || b == 0) return std::numeric_limits<double>::quiet_NaN();
    return a / b;
}

std::string_view UnitLatinName(std::string_view unitCode) {
    if (unitCode == "0001") return "Pa";
    if (unitCode == "0002") return "Torr";
    if (unitCode == "0003") return "mbar";
    return {};
}

std::string UnitTitle(std::string_view unitCode) {
    std::string name = UnitName(unitCode);
    return name.empty() ? std::string(unitCode) : name;
}

} // namespace vg57
