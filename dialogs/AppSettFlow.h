// The program settings action: fills the dialog from the polling timer and the chart, shows it
// and, on OK, applies the interval, the scale kind and automatic scaling in that order.
#pragma once

#include <functional>

class QTimer;
class QWidget;

namespace vg57 {

class TAppSettingsForm;
class TChartArea;
class TChartModel;

// Seconds as typed in the dialog to whole milliseconds, rounded down. A decimal that binary
// fractions cannot hold exactly (4.35 is 4.34999...) still gives its own millisecond count.
int PollingIntervalMs(double seconds);

// Shows the dialog; the default runs it modally with exec(). Tests drive the form instead.
using TAppSettingsExec = std::function<int(TAppSettingsForm&)>;

// On OK, in this order: the polling interval (a running timer restarts only when the interval
// changed); the pressure axis logarithmic or linear; automatic scaling, with YPanel enabled
// exactly when it is off and the slider's range applied at once then; the set point lines shown
// or not.
// When the chart refuses the logarithmic scale the EChartAxisError goes on to the caller's
// general error report: the new interval stays, scale kind and automatic scaling keep their old
// values. The dialog is destroyed on every path. `area` must be the view of `chart`.
void ActionProgramSettingsExecute(QWidget* owner, QTimer& measureTimer, TChartModel& chart,
                                  TChartArea& area, const TAppSettingsExec& exec = {});

} // namespace vg57
