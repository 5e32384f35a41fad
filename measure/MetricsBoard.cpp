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

double UnixSecondsNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double SteadySecondsNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void TBusBoard::Set(const TBusSample& sample) {
    std::lock_guard lock(mutex_);
    sample_ = sample;
}

TBusSample TBusBoard::Snapshot() const {
    std::lock_guard lock(mutex_);
    return sample_;
}

} // namespace vg57
