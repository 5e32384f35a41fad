#include "PortChooserDialog.h"

#include "ComPort.h"
#include "PortMap.h"
#include "SerialDevice.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>

namespace vg57 {

std::vector<TPortChoice> OpenablePorts() {
    std::vector<TPortChoice> result;
    for (const auto& e : platform::ScanPortMap()) {
        if (e.number < 1 || e.number > 50) continue;
        int fd = -1;
        const int err = platform::OpenSerialDevice(e.device, fd);
        if (err == 0) platform::CloseSerialDevice(fd);
        if (err == 0 || err == EBUSY) result.push_back({e.number, e.device});
    }
    return result;
}

TPortChooserDialog::TPortChooserDialog(const std::vector<TPortChoice>& ports, QWidget* parent)
    : QDialog(parent), list_(new QComboBox(this)), ports_(ports) {
    setWindowTitle(QStringLiteral("Select Port"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The configured serial port is not valid."), this));
    layout->addWidget(new QLabel(QStringLiteral("Please choose another port."), this));
    // The name stays "COM" + number; the device beside it tells which adapter that is.
    for (const auto& p : ports_)
        list_->addItem(
            QStringLiteral("COM%1    %2").arg(p.number).arg(QString::fromStdString(p.device)));
    if (!ports_.empty()) list_->setCurrentIndex(0);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int TPortChooserDialog::ChosenNumber() const {
    const int i = list_->currentIndex();
    return i >= 0 && i < static_cast<int>(ports_.size())
               ? ports_[static_cast<std::size_t>(i)].number
               : 0;
}

void InstallPortChooser() {
    TComPort::SetPortPrompt([] {
        TPortChooserDialog dialog(OpenablePorts());
        return dialog.exec() == QDialog::Accepted ? dialog.ChosenNumber() : 0;
    });
}

} // namespace vg57
