// The connection parameters dialog: serial port, line speed, parity, stop bits, the gauge's
// address on the RS-485 line and the RTS level while sending. It edits TSettings and the matching
// properties of the serial port object; it never opens or closes the port.
#pragma once

#include "PortMap.h"
#include "Settings.h"

#include <QDialog>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class QComboBox;
class QPushButton;

namespace vg57 {

class TComPort;

// OK was pressed with no port chosen (no ports, or the configured one is not among them).
class ENoPortChosen : public std::runtime_error {
public:
    ENoPortChosen();
};

class TSetupCommForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetupCommForm(QWidget* owner = nullptr);

    // Replaces the lists' port entries and selects what the settings say. Entries whose number
    // can't be a port number are left out.
    void Fill(const std::vector<platform::PortEntry>& ports, const TSettings& settings);
    // Puts on the entry of `portName` (the open port's) the words of its direction control.
    void ShowDirection(const std::string& portName, const std::string& direction);

    // The chosen port's name ("COM3"), or empty with no entry chosen.
    std::string ChosenPortName() const;

    QPushButton* OkButton;
    QPushButton* CancelButton;
    QComboBox* PortList;
    QComboBox* BaudRateList;
    QComboBox* ParityList;
    QComboBox* StopBitList;
    QComboBox* DevAddressList;
    QComboBox* RtsOnSendList;

protected:
    void showEvent(QShowEvent* event) override;
};

// Shows the dialog; the default runs it modally with exec(). Tests set the lists and return a
// result instead.
using TSetupCommExec = std::function<int(TSetupCommForm&)>;

// Re-reads the port map into `portNames` (a port plugged in since the last time is offered),
// shows the dialog modally and, on OK, stores the choices in `settings` and sets them on `port`.
// True only when the operator confirmed and everything was applied. OK with no port chosen
// raises ENoPortChosen and changes nothing. The dialog is destroyed on every path.
bool RunConnectionDialog(QWidget* owner, TSettings& settings, TComPort& port,
                         std::vector<platform::PortEntry>& portNames,
                         const platform::PortMapSources& sources = {},
                         const TSetupCommExec& exec = {});

} // namespace vg57
