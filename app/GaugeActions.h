// The operator's actions on the gauge outside the polling cycle: the two calibrations and the
// device settings (set points and pressure unit). Whether an action is available is the
// window's business; these only carry it out.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

class QWidget;

namespace vg57 {

class TGaugeLink;
class TSPSetupForm;

// A unit code read from the gauge that is not a number.
class EUnitCodeNotNumber : public std::runtime_error {
public:
    explicit EUnitCodeNotNumber(const std::string& code);
};

// Asks the operator a question; true for "Да".
using TConfirm = std::function<bool(const std::string& question)>;

// One slip must not recalibrate the gauge: takes a fresh reading ("R1", "S1"; calibration runs
// while stopped, so the last one may be hours old), asks with it ("нет данных" when the reading
// fails), and only on "Да" sends "C1" / "C2". The link shows the result through its view when a
// well-formed reply came. Runs event loops, as ActionDeviceSettingsExecute. `gauge` (" (адрес 5)"
// with several gauges on the line) follows the action's name in the question.
void ActionCalibrAtmExecute(TGaugeLink& link, const TConfirm& confirm, const std::string& gauge);
void ActionCalibrZeroExecute(TGaugeLink& link, const TConfirm& confirm, const std::string& gauge);
inline void ActionCalibrAtmExecute(TGaugeLink& link, const TConfirm& confirm) {
    ActionCalibrAtmExecute(link, confirm, {});
}
inline void ActionCalibrZeroExecute(TGaugeLink& link, const TConfirm& confirm) {
    ActionCalibrZeroExecute(link, confirm, {});
}

// The unit list's position of a unit code ("0002" -> 1), or -1 for a number outside the three
// codes. Raises EUnitCodeNotNumber when the code is not a number.
int UnitIndexOf(const std::string& unitCode);

// Shows the set point dialog; the default runs it modally with exec(). Tests fill its fields and
// return a result instead.
using TSPSetupExec = std::function<int(TSPSetupForm&)>;

// Reads the set points and the unit, lets the operator edit them (the dialog converts them into a
// newly chosen unit) and, on OK, writes the unit ("W1") and then the set points in it ("W2",
// "W3", "W4"), then reads both back so the panel shows what the gauge now holds: the unit also
// when reading the set points fails or raises (that error then goes on). A changed unit the
// gauge did not take gets no set points. UnitCode changes only when the gauge accepted "W1" or
// reports a new unit. An unknown unit the operator left unchosen is not written. Nothing is sent
// after Cancel. Runs event loops
// (the command waits and the modal dialog): call it from an action handler, never from inside a
// packet event. The dialog is destroyed on every path.
void ActionDeviceSettingsExecute(QWidget* owner, TGaugeLink& link, const TSPSetupExec& exec = {});

} // namespace vg57
