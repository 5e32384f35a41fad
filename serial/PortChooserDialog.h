// The port chooser ("Select Port"), shown when a port is opened with no port number chosen.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;

namespace vg57 {

struct TPortChoice {
    int number;
    std::string device;
};

// Ports COM1..COM50 whose device can be opened now, or is held by another program.
std::vector<TPortChoice> OpenablePorts();

class TPortChooserDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPortChooserDialog(const std::vector<TPortChoice>& ports, QWidget* parent = nullptr);
    // The chosen port number, or 0 with no entry.
    int ChosenNumber() const;
    QComboBox* PortList() const { return list_; }

private:
    QComboBox* list_;
    std::vector<TPortChoice> ports_;
};

// Makes TComPort ask the operator with this dialog.
void InstallPortChooser();

} // namespace vg57
