// The units a leak test is specified in: a rise rate (Pa/h, mbar/h, Torr/h, µm Hg/h, for furnaces
// and chambers) or a throughput (mbar·l/s, Pa·m³/s, Torr·l/s, sccm, for components), and the
// throughputs Q is also given in. Torr is 101325/760 Pa exactly, µm Hg a thousandth of it.
#pragma once

#include <optional>
#include <string_view>

namespace vg57 {

enum class ELimitUnit {
    paPerHour,
    mbarPerHour,
    torrPerHour,
    umHgPerHour,
    mbarLs,
    paM3s,
    torrLs,
    sccm
};
constexpr ELimitUnit kLimitUnits[] = {ELimitUnit::paPerHour,   ELimitUnit::mbarPerHour,
                                      ELimitUnit::torrPerHour, ELimitUnit::umHgPerHour,
                                      ELimitUnit::mbarLs,      ELimitUnit::paM3s,
                                      ELimitUnit::torrLs,      ELimitUnit::sccm};

// "Pa/h", "mbar/h", "Torr/h", "um_Hg/h", "mbar*l/s", "Pa*m3/s", "Torr*l/s", "sccm".
std::string_view LatinLimitUnit(ELimitUnit unit);
std::optional<ELimitUnit> LimitUnitOfName(std::string_view latinName);
// As the window shows them: "Па/ч", "мбар·л/с", ...
std::string_view RussianLimitUnit(ELimitUnit unit);
// A rise rate rather than a throughput: compared without the volume.
bool IsRiseRate(ELimitUnit unit);
// One of the unit in Pa/s (rise rates) or Pa·m³/s (throughputs).
double SiPerLimitUnit(ELimitUnit unit);

// Throughputs in Pa·m³/s per one of each: 1 atm·cc/s = 101325 Pa·cm³/s; 1 sccm = one standard
// cubic centimetre (0 °C, 101325 Pa) a minute = 0.0168875 mbar·l/s.
constexpr double kPaM3sPerMbarLs = 0.1;
constexpr double kPaM3sPerAtmCcS = 0.101325;
constexpr double kPaM3sPerSccm = 0.101325 / 60.0;

struct TLimit {
    double value = 0;
    ELimitUnit unit = ELimitUnit::mbarLs;
};

} // namespace vg57
