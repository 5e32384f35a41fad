// The gauge's three pressure units as the archive codes them ("0001" Pa, "0002" Torr, "0003"
// mbar), their names, and conversion between them. Plain C++ for the archive and the analysis.
#pragma once

#include <cstdint>
#include <string_view>

namespace vg57 {

enum class EPressureUnit : std::uint8_t { unknown = 0, pa = 1, torr = 2, mbar = 3 };

constexpr double kPascalsPerTorr = 133.322368;
constexpr double kPascalsPerMbar = 100.0;
constexpr double kCubicMetresPerLitre = 0.001;

// "0001", "0002", "0003"; any other text is unknown.
EPressureUnit UnitOfCode(std::string_view code);
// Pascals in one of the unit; 0 for unknown.
double PascalsPer(EPressureUnit unit);
// The factor that takes a pressure in `from` to `to`; 1 when either is unknown.
double UnitFactor(EPressureUnit from, EPressureUnit to);
// "Pa", "Torr", "mbar" (files and machine output); empty for unknown.
std::string_view LatinUnitName(EPressureUnit unit);
// "Па", "Торр", "мбар" (the window); empty for unknown.
std::string_view RussianUnitName(EPressureUnit unit);

} // namespace vg57
