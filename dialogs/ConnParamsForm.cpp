#include "ConnParamsForm.h"

#include "ComPort.h"
#include "SerialExcept.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace vg57 {

namespace {

const char* const kBaudRates[] = {"1200", "4800", "9600", "19200", "38400"};
const char* const kParities[] = {"Нет", "Нечетн", "Четн"};
const char* const kStopBits[] = {"1", "2"};
const char* const kRtsOnSend[] = {"высокий", "низкий", "как задано драйвером"};
const TRtsOnSend kRtsOnSendKinds[] = {TRtsOnSend::High, TRtsOnSend::Low, TRtsOnSend::Driver};

// A port number must fit the serial port object's 16-bit port number.
bool IsPortNumber(int number) {
    return number > 0 && number <= std::numeric_limits<std::uint16_t>::max();
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

template <std::size_t N> QComboBox* MakeList(QWidget* parent, const char* const (&entries)[N]) {
    auto* list = new QComboBox(parent); // not editable: only its own entries
    for (const char* e : entries)
        list->addItem(QString::fromUtf8(e));
    return list;
}

int IndexOfText(const QComboBox* list, const std::string& text) {
    return list->findText(QString::fromStdString(text), Qt::MatchExactly);
}

} // namespace

ENoPortChosen::ENoPortChosen()
    : std::runtime_error("Порт не выбран: выберите порт в списке \"Порт\" и нажмите \"Ok\".") {}

TSetupCommForm::TSetupCommForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Настройка параметров соединения"));
    // The buttons are made first so that the tab order starts with them and focus with "Ok".
    OkButton = new QPushButton(QStringLiteral("Ok"), this);
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    PortList = new QComboBox(this);
    BaudRateList = MakeList(this, kBaudRates);
    ParityList = MakeList(this, kParities);
    StopBitList = MakeList(this, kStopBits);
    DevAddressList = new QComboBox(this);
    for (const char* c = kDevAddressChars; *c; ++c)
        DevAddressList->addItem(QString(QChar::fromLatin1(*c)));
    RtsOnSendList = MakeList(this, kRtsOnSend);
    RtsOnSendList->setToolTip(QStringLiteral("Уровень RTS, включающий передатчик RS-485.\n"
                                             "Драйвер платы обычно знает его сам."));
    auto* grid = new QGridLayout;
    const std::pair<const char*, QComboBox*> rows[] = {{"Порт", PortList},
                                                       {"Скорость", BaudRateList},
                                                       {"Контроль четности", ParityList},
                                                       {"Стоп. биты", StopBitList},
                                                       {"Адрес", DevAddressList},
                                                       {"RTS при передаче", RtsOnSendList}};
    for (int r = 0; r < 6; ++r) {
        grid->addWidget(new QLabel(QString::fromUtf8(rows[r].first), this), r, 0);
        grid->addWidget(rows[r].second, r, 1);
    }
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);

    OkButton->setDefault(true);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(OkButton, CancelButton);
    setTabOrder(CancelButton, PortList);
    setTabOrder(PortList, BaudRateList);
    setTabOrder(BaudRateList, ParityList);
    setTabOrder(ParityList, StopBitList);
    setTabOrder(StopBitList, DevAddressList);
    setTabOrder(DevAddressList, RtsOnSendList);
    OkButton->setFocus();
    // Outer size 319 x 258 with the usual frame (4-pixel borders, 23-pixel caption): one row more
    // than the first dialog's 231.
    resize(311, 231);
}

void TSetupCommForm::Fill(const std::vector<platform::PortEntry>& ports,
                          const TSettings& settings) {
    PortList->clear();
    int chosen = -1;
    for (const auto& e : ports) {
        if (!IsPortNumber(e.number)) continue;
        const std::string name = e.Name();
        // The device beside the name tells which adapter a number stands for.
        QString shown = QStringLiteral("%1    %2")
                            .arg(QString::fromStdString(name), QString::fromStdString(e.device));
        if (!e.present) shown += QStringLiteral("  (нет устройства)");
        PortList->addItem(shown, QString::fromStdString(name));
        if (chosen < 0 && SameIgnoringCase(name, settings.ComPort)) chosen = PortList->count() - 1;
    }
    PortList->setCurrentIndex(chosen);
    BaudRateList->setCurrentIndex(IndexOfText(BaudRateList, std::to_string(settings.BaudRate)));
    ParityList->setCurrentIndex(
        settings.Parity >= 0 && settings.Parity < ParityList->count() ? settings.Parity : -1);
    StopBitList->setCurrentIndex(IndexOfText(StopBitList, std::to_string(settings.StopBits)));
    const char* address =
        settings.DevAddress ? std::strchr(kDevAddressChars, settings.DevAddress) : nullptr;
    DevAddressList->setCurrentIndex(address ? static_cast<int>(address - kDevAddressChars) : -1);
    RtsOnSendList->setCurrentIndex(
        settings.RtsOnSend >= 0 && settings.RtsOnSend < RtsOnSendList->count() ? settings.RtsOnSend
                                                                               : 2);
}

void TSetupCommForm::ShowDirection(const std::string& portName, const std::string& direction) {
    const int i = PortList->findData(QString::fromStdString(portName));
    if (i < 0 || direction.empty()) return;
    PortList->setItemData(i, QString::fromStdString(direction), Qt::ToolTipRole);
    if (i == PortList->currentIndex()) PortList->setToolTip(QString::fromStdString(direction));
}

std::string TSetupCommForm::ChosenPortName() const {
    return PortList->currentIndex() < 0 ? std::string()
                                        : PortList->currentData().toString().toStdString();
}

void TSetupCommForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

namespace {

// The port's line as the dialog may change it.
struct TPortLine {
    std::uint16_t number;
    std::int32_t baud;
    TParity parity;
    std::uint16_t stopBits;
    TRtsOnSend rtsOnSend;
    bool open;
};

TPortLine LineOf(const TComPort& port) {
    return {port.ComNumber(), port.Baud(),      port.Parity(),
            port.StopBits(),  port.RtsOnSend(), port.Open()};
}

// The system's words in an error, with its detail where it has one.
std::string Reason(const std::exception& e) {
    std::string detail;
    if (const auto* s = dynamic_cast<const ESerialException*>(&e)) detail = s->Detail();
    if (const auto* io = dynamic_cast<const EInOutError*>(&e)) detail = io->Detail();
    return detail.empty() ? e.what() : std::string(e.what()) + ": " + detail;
}

// Puts the port back as it was, open again if it was; says so when that fails too.
void RestorePort(TComPort& port, const TPortLine& line, const std::string& name,
                 const std::exception& refused) {
    try {
        port.SetOpen(false);
        port.SetComNumber(line.number);
        port.SetBaud(line.baud);
        port.SetParity(line.parity);
        port.SetStopBits(line.stopBits);
        port.SetRtsOnSend(line.rtsOnSend);
        if (line.open) port.SetOpen(true);
    } catch (const std::exception& e) {
        throw std::runtime_error(Reason(refused) + "\nПрежний порт " + name +
                                 " открыть снова не удалось: " + Reason(e));
    }
}

} // namespace

bool RunConnectionDialog(QWidget* owner, TSettings& settings, TComPort& port,
                         std::vector<platform::PortEntry>& portNames,
                         const platform::PortMapSources& sources, const TSetupCommExec& exec) {
    // Adapters come and go while the program runs: the list is read afresh each time.
    portNames = platform::ScanPortMap(sources);
    std::erase_if(portNames, [](const platform::PortEntry& e) { return !IsPortNumber(e.number); });

    // Owned by the window, yet freed here on every path; the guard copes with the window having
    // taken it down first.
    QPointer<TSetupCommForm> form = new TSetupCommForm(owner);
    const auto destroy = qScopeGuard([&form] { delete form.data(); });
    form->Fill(portNames, settings);
    form->ShowDirection("COM" + std::to_string(port.ComNumber()), port.Rs485Text());
    const int result = exec ? exec(*form) : form->exec();
    if (!form || result != QDialog::Accepted) return false;

    // Every choice is checked before anything changes, so a refused OK leaves all as it was
    // (the port name too: later messages must still name a port).
    const std::string portName = form->ChosenPortName();
    const int baudIndex = form->BaudRateList->currentIndex();
    const int parityIndex = form->ParityList->currentIndex();
    const int stopIndex = form->StopBitList->currentIndex();
    const int addressIndex = form->DevAddressList->currentIndex();
    const int rtsIndex =
        form->RtsOnSendList->currentIndex() < 0 ? 2 : form->RtsOnSendList->currentIndex();
    const int number = platform::PortNumberOf(portName);
    if (!IsPortNumber(number)) throw ENoPortChosen();
    if (baudIndex < 0 || parityIndex < 0 || stopIndex < 0)
        throw std::runtime_error("Не выбраны скорость, контроль четности или стоповые биты.");

    // A port that can't be opened with the new choice refuses it too: then the settings and
    // the port are put back, the old port open again if it was.
    const TSettings before = settings;
    const TPortLine lineBefore = LineOf(port);
    try {
        settings.ComPort = portName;
        port.SetComNumber(static_cast<std::uint16_t>(number));
        settings.BaudRate = std::stoi(kBaudRates[baudIndex]);
        port.SetBaud(settings.BaudRate);
        settings.Parity = parityIndex;
        port.SetParity(static_cast<TParity>(parityIndex));
        settings.StopBits = static_cast<std::uint16_t>(std::stoi(kStopBits[stopIndex]));
        port.SetStopBits(settings.StopBits);
        settings.DevAddress = addressIndex >= 0 ? kDevAddressChars[addressIndex] : '0';
        settings.RtsOnSend = rtsIndex;
        port.SetRtsOnSend(kRtsOnSendKinds[rtsIndex]);
    } catch (const std::exception& refused) {
        settings = before;
        RestorePort(port, lineBefore, before.ComPort, refused);
        throw;
    }
    return true;
}

} // namespace vg57
