// The command routines: which commands each sends, what each reply must look like, and what
// the window shows of it.
#include "GaugeLink.h"

#include "Codec.h"
#include "NumberFormat.h"

namespace vg57 {

namespace {

const char kDeviceError[] = "Ошибка от прибора";
const char* const kSetPointNames[kSetPointCount] = {"SP1L", "SP1H", "SP2L", "SP2H", "SP3L", "SP3H"};

// Releases the gauge on every way out of a routine that obtained it, a raised error included.
class TGaugeHold {
public:
    explicit TGaugeHold(bool& busy) : busy_(busy) {}
    ~TGaugeHold() { Release(); }
    TGaugeHold(const TGaugeHold&) = delete;
    TGaugeHold& operator=(const TGaugeHold&) = delete;
    void Release() {
        if (held_) busy_ = false;
        held_ = false;
    }

private:
    bool& busy_;
    bool held_ = true;
};

} // namespace

bool TGaugeLink::Exchange(const std::string& command, std::size_t length, char echo,
                          std::string& reply, bool showEchoError) {
    if (!SendCommand(command, reply)) return false;
    if (reply.size() != length) return false;
    if (reply[1] != echo) {
        if (showEchoError) ShowDeviceError(true);
        return false;
    }
    // The gauge has recovered: its earlier error no longer stands.
    ShowDeviceError(false);
    return true;
}

void TGaugeLink::ShowDeviceError(bool on) {
    if (on == deviceErrorShown_) return;
    deviceErrorShown_ = on;
    view_.SetTestText(on ? kDeviceError : "");
}

bool TGaugeLink::ReadUnitHeld() {
    std::string reply;
    if (!Exchange("R1", 6, 'R', reply, true)) return false;
    UnitCode = reply.substr(2, 4);
    view_.SetUnitsText(UnitName(UnitCode));
    return true;
}

bool TGaugeLink::ReadUnit() {
    if (!AcquireGauge()) return false;
    TGaugeHold hold(bus_.GaugeBusy);
    return ReadUnitHeld();
}

bool TGaugeLink::ReadMeasurement(bool* obtained) {
    const bool acquired = AcquireGauge();
    if (obtained) *obtained = acquired;
    if (!acquired) return false;
    TGaugeHold hold(bus_.GaugeBusy);

    if (!ReadUnitHeld()) return false;
    std::string reply;
    if (!Exchange("S1", 6, 'S', reply, true)) return false;
    // A blank or a letter would decode to a plausible reading (a blank units digit gives -16,
    // a 'Z' exponent 10^42) that is then shown, plotted and archived.
    const auto value = DecodeDigitNumber(std::string_view(reply).substr(2, 4));
    if (!value) {
        ShowDeviceError(true);
        return false;
    }
    CurrentPressure = *value;
    view_.SetPressureText(FormatGeneral(*value) + " " + UnitName(UnitCode));
    return true;
}

bool TGaugeLink::ReadSetPoints() {
    if (!AcquireGauge()) return false;
    TGaugeHold hold(bus_.GaugeBusy);

    for (int pair = 0; pair < 3; ++pair) {
        const std::string command = {'R', static_cast<char>('2' + pair)};
        std::string reply;
        if (!Exchange(command, 10, 'R', reply)) return false;
        for (int half = 0; half < 2; ++half) {
            const int index = pair * 2 + half;
            const std::string_view chars = std::string_view(reply).substr(2 + half * 4, 4);
            const std::string text = SetPointText(chars);
            view_.SetSetPointText(index, text);
            // The digits are checked too: a blank or a sign where a digit belongs would still
            // parse (" .2e-3", "-.5e-3") and set a wrong threshold without a word.
            const auto value = IsDigitNumber(chars) ? ParseNumber(text) : std::nullopt;
            if (!value) {
                hold.Release();
                throw ESetPointConversion("Уставка " + std::string(kSetPointNames[index]) +
                                          " в ответе прибора на " + command + " — \"" + text +
                                          "\" — не является числом");
            }
            SetPoints[static_cast<std::size_t>(index)] = *value;
        }
    }
    return true;
}

bool TGaugeLink::WriteSetPoints() {
    // The four-character number has one exponent digit and no sign: anything else would be
    // written as a different threshold (5E20 as 500, 1E-12 as 0.1) without a word.
    for (long double v : SetPoints)
        if (!IsWritableSetPoint(v)) return false;
    if (!AcquireGauge()) return false;
    TGaugeHold hold(bus_.GaugeBusy);

    for (int pair = 0; pair < 3; ++pair) {
        std::string command = {'W', static_cast<char>('2' + pair)};
        command += EncodeNumber(SetPoints[static_cast<std::size_t>(pair * 2)]);
        command += EncodeNumber(SetPoints[static_cast<std::size_t>(pair * 2 + 1)]);
        std::string reply;
        if (!Exchange(command, 2, 'W', reply)) return false;
    }
    return true;
}

bool TGaugeLink::WriteUnit() {
    if (!AcquireGauge()) return false;
    TGaugeHold hold(bus_.GaugeBusy);
    std::string reply;
    return Exchange("W1" + UnitCode, 2, 'W', reply);
}

bool TGaugeLink::Calibrate(const std::string& command, const char* done, const char* failed) {
    if (!AcquireGauge()) return false;
    TGaugeHold hold(bus_.GaugeBusy);
    std::string reply;
    if (!Exchange(command, 6, 'C', reply)) return false;
    // The message box runs its own event loop: readings may go on while it is open.
    hold.Release();
    const bool succeeded = reply.compare(2, 4, "0000") == 0;
    view_.ShowMessage(succeeded ? done : failed);
    return succeeded;
}

bool TGaugeLink::CalibrateAtmosphere() {
    return Calibrate("C1", "Калибровка по атмосферному давлению выполнена",
                     "Калибровка по атмосферному давлению не выполнена!"
                     "Возможно давление слишком низкое.");
}

bool TGaugeLink::CalibrateZero() {
    return Calibrate("C2", "Калибровка нуля датчика выполнена",
                     "Калибровка нуля датчика не выполнена! Возможно давление слишком высокое.");
}

} // namespace vg57
