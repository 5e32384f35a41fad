// One gauge of the window's line: its link, archive and cycle, as `vg57-cli log` keeps one per
// address, with the window as the view of them all. What the link shows goes to the value panel
// only while this gauge is the panel's; the gauge keeps it, so that choosing it shows it again.
// Its readings go to its own curve of the chart and to the table of every gauge's state.
#pragma once

#include "ArchiveWriter.h"
#include "ChartFeed.h"
#include "GaugeLink.h"
#include "GaugeStates.h"
#include "MeasureCycle.h"
#include "ReadingSink.h"

#include <array>
#include <optional>
#include <string>

namespace vg57 {

class TVG57Form;

class TLineGauge final : public TGaugeView, public TCycleView, private TReadingSink {
public:
    TLineGauge(TVG57Form& window, char address);
    ~TLineGauge() override;
    TLineGauge(const TLineGauge&) = delete;
    TLineGauge& operator=(const TLineGauge&) = delete;

    char Address() const { return link.DevAddress; }
    // A new address for this gauge: what was known of the gauge at the old one is forgotten.
    void Readdress(char address);

    // What the link last showed the panel, shown again when this gauge becomes the panel's.
    struct TShown {
        std::optional<std::string> units, pressure, test;
        std::array<std::optional<std::string>, kSetPointCount> setPoints;
        TIndicator indicator = TIndicator::face;
        bool stopped = false; // the value is of a run that has ended
    };
    const TShown& Shown() const { return shown_; }
    // The row of the table of every gauge's state: its newest reading of this run and whether
    // it answers.
    TGaugeState State() const;

    // ---- TGaugeView ----
    void SetUnitsText(const std::string& text) override;
    void SetPressureText(const std::string& text) override;
    void SetTestText(const std::string& text) override;
    void SetSetPointText(int index, const std::string& text) override;
    void SetTransferIndicator(TIndicator colour) override;
    void ShowMessage(const std::string& text) override;
    bool RunConnectionDialog() override;

    // ---- TCycleView ----
    void ShowPortOpenError(const std::string& port, const std::string& reason) override;
    void StatusChanged() override;
    void RunStopped() override;

private:
    // ---- TReadingSink: the chart's curve of this gauge ----
    void RunStarted() override;
    void Reading(double time, double pressure, const std::string& unitCode) override;
    void Missed(double time) override;
    void Demonstration(double time, double value) override;
    bool OnPanel() const;

    TVG57Form& window_;
    TChartFeed feed_; // the chart of one gauge alone, as ever
    TShown shown_;
    // Set point values as their texts came since the last unit read; none for those not read.
    std::array<std::optional<long double>, kSetPointCount> setPointsRead_{};
    bool hasReading_ = false; // in this run
    double readingTime_ = 0, pressure_ = 0;
    std::string unitCode_;

public:
    TGaugeLink link;
    TArchiveWriter archive;
    TMeasureCycle cycle;
};

} // namespace vg57
