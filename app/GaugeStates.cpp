#include "GaugeStates.h"

#include "ChartModel.h"
#include "DateTime.h"
#include "NumberFormat.h"
#include "PressureUnit.h"

#include <algorithm>
#include <cmath>

namespace vg57 {

namespace {

std::string AddressText(int address) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return address >= 0 && address < 16 ? std::string(1, kDigits[address]) : std::string("?");
}

const char* StateText(EGaugeState s) {
    switch (s) {
    case EGaugeState::answering:
        return "отвечает";
    case EGaugeState::silent:
        return "не отвечает";
    case EGaugeState::adapterGone:
        return "адаптер отключён";
    case EGaugeState::stopped:
        return "не измеряется";
    case EGaugeState::fromFile:
        return "из файла";
    }
    return "";
}

} // namespace

TGaugeRow GaugeRow(const TGaugeState& gauge, double now, double staleAfterSeconds) {
    TGaugeRow row;
    row.address = AddressText(gauge.address);
    row.state = StateText(gauge.state);
    row.grey = (gauge.state != EGaugeState::answering && gauge.state != EGaugeState::fromFile) ||
               !gauge.hasReading;
    if (!gauge.hasReading) {
        row.pressure = "—";
        return row;
    }
    const std::string unit = UnitTitle(gauge.unitCode);
    row.pressure = FormatGeneral(gauge.pressure) + (unit.empty() ? "" : " " + unit);
    // A clock set back is no reason for a negative age.
    // Whole milliseconds first: a date-time's rounding must not make 37 s read as 36.
    const double seconds =
        std::max(0.0, std::round((now - gauge.readingTime) * kSecondsPerDay * 1000) / 1000);
    row.age = std::to_string(static_cast<long long>(std::floor(seconds))) + " с";
    row.grey = row.grey || seconds >= staleAfterSeconds;
    return row;
}

std::vector<TGaugeState> LoadedGaugeStates(const TChartModel& chart) {
    std::vector<TGaugeState> states;
    for (std::size_t k = 0; k < chart.GaugeCount(); ++k) {
        const TPointStore& points = chart.GaugePoints(k);
        TGaugeState& s = states.emplace_back();
        s.address = chart.GaugeAddress(k);
        s.state = EGaugeState::fromFile;
        if (points.Empty()) continue;
        const std::size_t last = points.Size() - 1;
        s.hasReading = true;
        s.pressure = points.Y(last);
        s.unitCode = chart.UnitCode(points.Unit(last));
        s.readingTime = points.X(last);
    }
    return states;
}

} // namespace vg57
