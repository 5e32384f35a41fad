#include "GaugeModel.h"

#include <algorithm>
#include <cmath>

namespace vg57sim {

namespace {
constexpr double kAtmosphere = 1.013e5;
constexpr double kUltimate = 1.0e-5;
constexpr double kPaPerTorr = 133.322368;
constexpr double kPaPerMbar = 100.0;

// Time constant of the approach to the ultimate pressure: a roughing pump empties the chamber
// quickly, the high-vacuum stage slower, and below 1e-2 Pa outgassing of the walls dominates.
double PumpTimeConstant(double pa) {
    if (pa > 100.0) return 6.0;
    if (pa > 1.0e-2) return 25.0;
    return 400.0;
}
} // namespace

GaugeModel::GaugeModel(double startPa, std::uint32_t seed) : pressure_(startPa), rng_(seed) {}

void GaugeModel::Pump(double dt) {
    // Exact within each band of constant time constant, so that the cost is the same for a
    // millisecond and for a year: at most one step per band crossed.
    static constexpr double kBands[] = {100.0, 1.0e-2};
    for (double band : kBands) {
        if (!(pressure_ > band) || !(dt > 0)) continue;
        const double tau = PumpTimeConstant(pressure_);
        const double toBand = tau * std::log((pressure_ - kUltimate) / (band - kUltimate));
        if (toBand >= dt) break;
        pressure_ = band;
        dt -= toBand;
    }
    if (dt > 0)
        pressure_ =
            kUltimate + (pressure_ - kUltimate) * std::exp(-dt / PumpTimeConstant(pressure_));
}

void GaugeModel::Advance(double dt) {
    if (!(dt > 0)) return;
    switch (state_) {
    case Chamber::Holding:
        return;
    case Chamber::Leaking:
        // A pressure-rise test needs a straight line: no noise on it.
        pressure_ = std::min(pressure_ + leakRate_ * dt, kAtmosphere);
        return;
    case Chamber::Pumping:
        Pump(dt);
        break;
    case Chamber::Venting:
        pressure_ = kAtmosphere + (pressure_ - kAtmosphere) * std::exp(-dt / 3.0);
        break;
    }
    if (noise_) {
        std::normal_distribution<double> n(0.0, 0.01);
        pressure_ *= 1.0 + n(rng_);
    }
    if (pressure_ < 0) pressure_ = 0;
}

double GaugeModel::PressureInUnit() const {
    if (unit_ == "0002") return pressure_ / kPaPerTorr;
    if (unit_ == "0003") return pressure_ / kPaPerMbar;
    return pressure_;
}

bool GaugeModel::SetUnitCode(const std::string& code) {
    if (code != "0001" && code != "0002" && code != "0003") return false;
    unit_ = code;
    return true;
}

std::string EncodeNumber(double value) {
    if (!(value > 0)) return "0010";
    if (value < 1.0e-9) value = 1.0e-9;
    if (value > 9.9e9) value = 9.9e9;
    int exponent = static_cast<int>(std::floor(std::log10(value)));
    long tenths = std::lround(value / std::pow(10.0, exponent) * 10.0);
    if (tenths >= 100) { // 9.96 rounds up to 10.0
        tenths = 10;
        ++exponent;
    }
    if (exponent > 9) return "9919";
    if (exponent < -9) return "1009";
    std::string s;
    s += static_cast<char>('0' + tenths / 10);
    s += static_cast<char>('0' + tenths % 10);
    s += exponent < 0 ? '0' : '1';
    s += static_cast<char>('0' + std::abs(exponent));
    return s;
}

double DecodeNumber(const std::string& c) {
    if (c.size() != 4) return 0;
    const double mantissa = (c[0] - '0') + (c[1] - '0') / 10.0;
    const int exponent = c[3] - '0';
    return mantissa * std::pow(10.0, c[2] == '0' ? -exponent : exponent);
}

} // namespace vg57sim
