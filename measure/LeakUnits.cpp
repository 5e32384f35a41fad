#include "LeakUnits.h"

#include "PressureUnit.h"

namespace vg57 {

namespace {
struct TUnitRow {
    ELimitUnit unit;
    std::string_view latin, russian;
    double si;
};
constexpr TUnitRow kRows[] = {
    {ELimitUnit::paPerHour, "Pa/h", "Па/ч", 1.0 / 3600},
    {ELimitUnit::mbarPerHour, "mbar/h", "мбар/ч", kPascalsPerMbar / 3600},
    {ELimitUnit::torrPerHour, "Torr/h", "Торр/ч", kPascalsPerTorr / 3600},
    {ELimitUnit::umHgPerHour, "um_Hg/h", "мкм рт. ст./ч", kPascalsPerTorr / 1000 / 3600},
    {ELimitUnit::mbarLs, "mbar*l/s", "мбар·л/с", kPaM3sPerMbarLs},
    {ELimitUnit::paM3s, "Pa*m3/s", "Па·м³/с", 1.0},
    {ELimitUnit::torrLs, "Torr*l/s", "Торр·л/с", kPascalsPerTorr* kCubicMetresPerLitre},
    {ELimitUnit::sccm, "sccm", "sccm", kPaM3sPerSccm},
};
const TUnitRow& Row(ELimitUnit unit) {
    return kRows[static_cast<int>(unit)];
}
} // namespace

std::string_view LatinLimitUnit(ELimitUnit unit) {
    return Row(unit).latin;
}

std::string_view RussianLimitUnit(ELimitUnit unit) {
    return Row(unit).russian;
}

std::optional<ELimitUnit> LimitUnitOfName(std::string_view latinName) {
    for (const TUnitRow& row : kRows)
        if (row.latin == latinName) return row.unit;
    return std::nullopt;
}

bool IsRiseRate(ELimitUnit unit) {
    return unit <= ELimitUnit::umHgPerHour;
}

double SiPerLimitUnit(ELimitUnit unit) {
    return Row(unit).si;
}

} // namespace vg57
