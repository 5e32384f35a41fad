// Every gauge's state at a glance: what the compact table beneath the panel's value shows, one
// row per gauge, from a plain state per gauge that whoever polls the gauges fills each tick.
#pragma once

#include <string>
#include <vector>

namespace vg57 {

class TChartModel;

// A loaded gauge's row tells no link state: the file carries none. A live gauge not measured
// (stopped, or not started) neither.
enum class EGaugeState { answering, silent, adapterGone, stopped, fromFile };

struct TGaugeState {
    int address = 0;
    bool hasReading = false; // none yet in this run (or this load)
    double pressure = 0;     // the newest reading, in its own unit
    std::string unitCode;
    double readingTime = 0; // its date-time
    EGaugeState state = EGaugeState::answering;
};

struct TGaugeRow {
    std::string address, pressure, age, state;
    bool grey = false; // not current: as the large value greys
};

// The row at date-time `now`. A reading older than `staleAfterSeconds`, or a gauge that is not
// answering now, greys the row; the age is shown in whole seconds whenever there is a reading.
TGaugeRow GaugeRow(const TGaugeState& gauge, double now, double staleAfterSeconds);

// The states of a loaded view's gauges (from the file): each one's last reading.
std::vector<TGaugeState> LoadedGaugeStates(const TChartModel& chart);

} // namespace vg57
