// The chart's gauges: one curve each, the chosen one's readings in the model's own store.
#include "ChartModel.h"

#include <algorithm>

namespace vg57 {

void TChartModel::SwapChosen() {
    TGaugeCurve& c = curves_[chosen_];
    std::swap(points_, c.points);
    std::swap(gapPending_, c.gapPending);
}

void TChartModel::SetGauges(const std::vector<int>& addresses) {
    SwapChosen(); // every curve's readings in its own place
    std::vector<TGaugeCurve> next;
    for (int a : addresses)
        if (std::none_of(next.begin(), next.end(), [a](const auto& c) { return c.address == a; }))
            next.push_back({a, {}, false, {}});
    if (next.size() <= 1 && curves_.size() == 1) {
        // Still a single gauge: its readings stay whatever its address.
        curves_.front().address = next.empty() ? kNoAddress : next.front().address;
    } else {
        if (next.empty()) next.push_back({});
        for (TGaugeCurve& c : next) {
            const std::size_t k = GaugeIndex(c.address);
            if (k < curves_.size()) c = std::move(curves_[k]);
        }
        curves_ = std::move(next);
    }
    chosen_ = 0;
    SwapChosen();
    Slice(columns_);
    Changed();
}

std::size_t TChartModel::GaugeIndex(int address) const {
    const auto at = std::find_if(curves_.begin(), curves_.end(),
                                 [address](const TGaugeCurve& c) { return c.address == address; });
    return static_cast<std::size_t>(at - curves_.begin());
}

void TChartModel::ChooseGauge(std::size_t k) {
    if (k >= curves_.size() || k == chosen_) return;
    SwapChosen();
    // The slices change places with the readings.
    std::swap(slice_, curves_[chosen_].slice);
    chosen_ = k;
    std::swap(slice_, curves_[chosen_].slice);
    SwapChosen();
    Changed();
}

const TPointStore& TChartModel::GaugePoints(std::size_t k) const {
    return k == chosen_ ? points_ : curves_[k].points;
}

const TChartSlice& TChartModel::GaugeSlice(std::size_t k) const {
    return k == chosen_ ? slice_ : curves_[k].slice;
}

void TChartModel::AddGaugeReading(std::size_t k, double now, double pressure,
                                  std::string_view unitCode) {
    if (k == chosen_) return AddMeasurementPoint(now, pressure, unitCode);
    if (k >= curves_.size()) return;
    MoveWindowTo(now);
    TGaugeCurve& c = curves_[k];
    c.points.Add(now, pressure, UnitIndex(unitCode), c.gapPending);
    c.gapPending = false;
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::AddGaugeMissedTick(std::size_t k, double now) {
    if (k == chosen_) return AddMissedTick(now);
    if (k >= curves_.size()) return;
    curves_[k].gapPending = true;
    MoveWindowTo(now);
    Changed();
    if (processEvents) processEvents();
}

void TChartModel::LoadGaugeArchives(std::vector<TGaugeArchive> archives, double tmin, double tmax) {
    std::vector<int> addresses;
    for (const TGaugeArchive& a : archives)
        addresses.push_back(a.address);
    SetGauges({}); // the files' gauges replace every curve
    SetGauges(addresses);
    if (archives.empty()) return;
    // The first gauge is chosen: its file sets the display unit, as a single file's would.
    TGaugeArchive& first = archives.front();
    LoadArchive(std::move(first.times), std::move(first.pressures), tmin, tmax, first.units,
                first.unitCodes);
    for (std::size_t k = 1; k < archives.size() && k < curves_.size(); ++k) {
        TGaugeArchive& a = archives[k];
        std::vector<std::uint8_t> map(a.unitCodes.size()), ours;
        for (std::size_t i = 0; i < a.unitCodes.size(); ++i)
            map[i] = UnitIndex(a.unitCodes[i]);
        for (std::uint8_t u : a.units)
            ours.push_back(u < map.size() ? map[u] : UnitIndex("?"));
        if (a.units.empty())
            ours.assign(std::min(a.times.size(), a.pressures.size()), UnitIndex(DisplayUnit()));
        TPointStore& points = curves_[k].points;
        points.Assign(std::move(a.times), std::move(a.pressures), ours);
        MarkSpacingGaps(points, kLoadedGapFactor, kMinLoadedGap);
    }
    UpdateAutomaticRange();
    Changed();
}

} // namespace vg57
