// The simulated gauge itself: a vacuum chamber's pressure over time, the unit the gauge reports
// in, its three set-point pairs and its two calibrations. Pressure is kept in pascals.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace vg57sim {

enum class Chamber { Pumping, Venting, Holding, Leaking };

// Thresholds of the calibrations, in pascals.
constexpr double kAtmosphereCalibrationMin = 5.0e4; // "C1" only near atmosphere
constexpr double kZeroCalibrationMax = 1.0e-1;      // "C2" only at low pressure

class GaugeModel {
public:
    explicit GaugeModel(double startPa = 1.0e5, std::uint32_t seed = 57);

    // Advances the chamber by dt seconds (already scaled by the simulation speed), in constant
    // time however long dt is.
    void Advance(double dtSeconds);

    double PressurePa() const { return pressure_; }
    void SetPressurePa(double pa) { pressure_ = pa; }
    Chamber State() const { return state_; }
    void SetState(Chamber s) { state_ = s; }
    void SetNoise(bool on) { noise_ = on; }
    // The chamber isolated: the pressure rises by paPerSecond, steadily and without noise.
    void StartLeak(double paPerSecond) {
        leakRate_ = paPerSecond;
        state_ = Chamber::Leaking;
    }

    // The pressure in the unit currently set ("0001" Pa, "0002" Torr, "0003" mbar).
    double PressureInUnit() const;
    const std::string& UnitCode() const { return unit_; }
    // Accepts only the three known codes; false leaves the unit as it was.
    bool SetUnitCode(const std::string& code);

    // Set-point pairs 1..3, each as the two four-character numbers the gauge was given.
    const std::string& SetPoints(int pair) const {
        return setPoints_.at(static_cast<std::size_t>(pair - 1));
    }
    void SetSetPoints(int pair, const std::string& eightChars) {
        setPoints_.at(static_cast<std::size_t>(pair - 1)) = eightChars;
    }

    bool CalibrateAtmosphere() const { return pressure_ >= kAtmosphereCalibrationMin; }
    bool CalibrateZero() const { return pressure_ <= kZeroCalibrationMax; }

private:
    void Pump(double dtSeconds);
    double pressure_;
    Chamber state_ = Chamber::Pumping;
    bool noise_ = true;
    double leakRate_ = 0; // Pa/s while Leaking
    std::string unit_ = "0001";
    std::array<std::string, 3> setPoints_ = {"10035003", "10015001", "10135013"};
    std::mt19937 rng_;
};

// The gauge's four-character number: units digit, tenths digit, exponent sign ('0' negative,
// '1' positive), exponent digit. Values are rounded to two digits and clamped to what the form
// can hold: 0, or 1.0E-9 to 9.9E+9.
std::string EncodeNumber(double value);
double DecodeNumber(const std::string& fourChars);

} // namespace vg57sim
