#include "MetricsBoard.h"

#include <chrono>

namespace vg57 {

void TMetricsBoard::Update(const std::function<void(TMetricsSample&)>& change) {
    const std::lock_guard lock(mutex_);
    change(sample_);
}

TMetricsSample TMetricsBoard::Snapshot() const {
    const std::lock_guard lock(mutex_);
    return sample_;
}

std::optional<double> PascalsPerUnit(std::string_view unitCode) {
    if (unitCode == "0001") return 1.0;
    if (unitCode == "0002") return 133.322368;
    if (unitCode == "0003") return 100.0;
    return std::nullopt;
}

std::string UnitSymbol(std::string_view unitCode) {
    if (unitCode == "0001") return "Pa";
    if (unitCode == "0002") return "Torr";
    if (unitCode == "0003") return "mbar";
    return {};
}

double UnixSecondsNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double SteadySecondsNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace vg57
