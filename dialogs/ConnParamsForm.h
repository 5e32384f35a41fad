// The connection parameters dialog: serial port, line speed, parity, stop bits, the gauge's
// address on the RS-485 line, the RTS level while sending, and the gauges on the line ("Приборы
// на линии"), which "Найти приборы" finds by asking each address. It edits TSettings and the
// matching properties of the serial port object. Only the scan opens the port, on the choices
// shown, and leaves it as it found it.
#pragma once

#include "LineScan.h"
#include "PortMap.h"
#include "Settings.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vg57 {

class TGaugeBus;

// OK was pressed with no port chosen (no ports, or the configured one is not among them).
class ENoPortChosen : public std::runtime_error {
public:
    ENoPortChosen();
};

class TSetupCommForm : public QDialog {
    Q_OBJECT
public:
    // "Найти приборы" asks through `bus` (the line's one owner); without one it is disabled.
    explicit TSetupCommForm(QWidget* owner = nullptr, TGaugeBus* bus = nullptr);

    // Replaces the lists' port entries and selects what the settings say, and ticks the line's
    // addresses. Entries whose number can't be a port number are left out.
    void Fill(const std::vector<platform::PortEntry>& ports, const TSettings& settings);
    // Puts on the entry of `portName` (the open port's) the words of its direction control.
    void ShowDirection(const std::string& portName, const std::string& direction);

    // The chosen port's name ("COM3"), or empty with no entry chosen.
    std::string ChosenPortName() const;
    // The ticked addresses, in the order of kDevAddressChars.
    std::string LineAddresses() const;

    // Asks each of the 16 addresses with the first contact, on the line as chosen now, and ticks
    // exactly those that answered. While it runs the button stops it; Escape, "Отмена" and the
    // frame's close button stop it too and close the dialog once it has ended.
    void FindGauges();
    bool Scanning() const { return scan_ && scan_->Running(); }

    // Shows an error of the scan; the default is a message box owned by the dialog.
    std::function<void(const QString& text)> showError;

    QPushButton* OkButton;
    QPushButton* CancelButton;
    QComboBox* PortList;
    QComboBox* BaudRateList;
    QComboBox* ParityList;
    QComboBox* StopBitList;
    QComboBox* DevAddressList;
    QComboBox* RtsOnSendList;
    std::array<QCheckBox*, 16> LineBoxes{}; // "0" ... "F", in the order of kDevAddressChars
    QLabel* LineHint;                       // which gauges the choice measures
    QPushButton* ScanButton;                // "Найти приборы" / "Остановить"
    QProgressBar* ScanProgress;             // addresses asked, of 16
    QLabel* ScanStatus;                     // what the last scan found

    // A scan running ends first; the dialog closes with `result` after it.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateLineHint();
    void SetScanning(bool on);
    // The port line the lists choose, or none (the reason in `why`) when one is not chosen.
    std::optional<TPortLine> ChosenLine(std::string& why) const;

    std::optional<TLineScan> scan_;
    std::optional<int> doneAfterScan_;
};

// Shows the dialog; the default runs it modally with exec(). Tests set the lists and return a
// result instead.
using TSetupCommExec = std::function<int(TSetupCommForm&)>;

// Re-reads the port map into `portNames` (a port plugged in since the last time is offered),
// shows the dialog modally and, on OK, stores the choices in `settings` and sets them on the
// bus's port. True only when the operator confirmed and everything was applied. OK with no port
// chosen raises ENoPortChosen and changes nothing. The dialog is destroyed on every path.
bool RunConnectionDialog(QWidget* owner, TSettings& settings, TGaugeBus& bus,
                         std::vector<platform::PortEntry>& portNames,
                         const platform::PortMapSources& sources = {},
                         const TSetupCommExec& exec = {});

} // namespace vg57
