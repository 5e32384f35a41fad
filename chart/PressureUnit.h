// Pressure units by the gauge's unit codes ("0001" Pa, "0002" Torr, "0003" mbar, as "R1" gives
// them and the archive's lines carry them), and the conversion between them. A reading keeps the
// code it was taken in; the chart converts it into the one unit it shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vg57 {

// The conventional value, exactly: 1 atm = 760 Torr = 101325 Pa.
constexpr double kPascalsPerTorr = 101325.0 / 760.0;
constexpr double kPascalsPerMbar = 100.0;
constexpr double kCubicMetresPerLitre = 0.001;

// The three units by name, for the analysis and the export: a reading in any other code is
// unknown there.
enum class EPressureUnit : std::uint8_t { unknown = 0, pa = 1, torr = 2, mbar = 3 };
EPressureUnit UnitOfCode(std::string_view code);
// Pascals in one of the unit; 0 for unknown.
double PascalsPer(EPressureUnit unit);
// The factor that takes a pressure in `from` to `to`; 1 when either is unknown.
double UnitFactor(EPressureUnit from, EPressureUnit to);
// "Pa", "Torr", "mbar" (files and machine output); empty for unknown.
std::string_view LatinUnitName(EPressureUnit unit);
// "Па", "Торр", "мбар" (the window); empty for unknown.
std::string_view RussianUnitName(EPressureUnit unit);

// Pascals in one unit of the code; 0 for a code that names no known unit.
double PascalsPerUnit(std::string_view unitCode);

// The factor that takes a value in `from` into `to`: 1 for equal codes (also unknown ones, so a
// run in one unknown code is drawn as it is), NaN when either is unknown and they differ.
double UnitFactor(std::string_view from, std::string_view to);

// The pressure axis's title: "Па", "Торр", "мбар", or the code itself when it names no unit.
std::string UnitTitle(std::string_view unitCode);

} // namespace vg57
