#include "ConnParamsForm.h"

#include "ComPort.h"
#include "GaugeBus.h"
#include "MessageBox.h"
#include "SerialExcept.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
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

constexpr int kAddressCount = sizeof kDevAddressChars - 1;

// "1, 2, 5"
QString AddressList(const std::string& addresses) {
    QStringList out;
    for (const char a : addresses)
        out << QString(QChar::fromLatin1(a));
    return out.join(QStringLiteral(", "));
}

} // namespace

ENoPortChosen::ENoPortChosen()
    : std::runtime_error("Порт не выбран: выберите порт в списке \"Порт\" и нажмите \"Ok\".") {}

TSetupCommForm::TSetupCommForm(QWidget* owner, TGaugeBus* bus) : QDialog(owner) {
    if (bus) scan_.emplace(*bus);
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
    grid->setRowStretch(6, 1);

    // The gauges on the line: a compact 4 x 4 board of the 16 addresses.
    auto* line = new QGroupBox(QStringLiteral("Приборы на линии"), this);
    auto* board = new QGridLayout;
    for (int i = 0; i < kAddressCount; ++i) {
        LineBoxes[i] = new QCheckBox(QString(QChar::fromLatin1(kDevAddressChars[i])), line);
        board->addWidget(LineBoxes[i], i / 4, i % 4);
        connect(LineBoxes[i], &QCheckBox::toggled, this, &TSetupCommForm::UpdateLineHint);
    }
    LineHint = new QLabel(line);
    LineHint->setWordWrap(true);
    ScanButton = new QPushButton(QStringLiteral("Найти приборы"), line);
    ScanButton->setAutoDefault(false); // Enter stays with "Ok"
    ScanButton->setEnabled(scan_.has_value());
    ScanButton->setToolTip(QStringLiteral("Опросить адреса 0–F на выбранных порту и скорости "
                                          "и отметить ответившие приборы"));
    ScanProgress = new QProgressBar(line);
    ScanProgress->setRange(0, kAddressCount);
    ScanProgress->setValue(0);
    ScanProgress->setFormat(QStringLiteral("%v из %m"));
    ScanProgress->setTextVisible(false);
    ScanStatus = new QLabel(line);
    ScanStatus->setWordWrap(true);
    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(ScanButton);
    scanRow->addWidget(ScanProgress, 1);
    auto* lineLayout = new QVBoxLayout(line);
    lineLayout->addLayout(board);
    lineLayout->addWidget(LineHint);
    lineLayout->addLayout(scanRow);
    lineLayout->addWidget(ScanStatus);
    lineLayout->addStretch();
    connect(ScanButton, &QPushButton::clicked, this, &TSetupCommForm::FindGauges);
    connect(DevAddressList, &QComboBox::currentIndexChanged, this, &TSetupCommForm::UpdateLineHint);
    showError = [this](const QString& text) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Ошибка!"), text);
    };

    auto* columns = new QHBoxLayout;
    columns->addLayout(grid);
    columns->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
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
    QWidget* previous = RtsOnSendList;
    for (QWidget* next : LineBoxes) {
        setTabOrder(previous, next);
        previous = next;
    }
    setTabOrder(previous, ScanButton);
    OkButton->setFocus();
    UpdateLineHint();
    // Wider than the first dialog's 319 x 231: the line's board stands beside the rows.
    resize(std::max(sizeHint().width(), 560), std::max(sizeHint().height(), 258));
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
    for (int i = 0; i < kAddressCount; ++i)
        LineBoxes[i]->setChecked(settings.LineAddresses.find(kDevAddressChars[i]) !=
                                 std::string::npos);
    UpdateLineHint();
}

std::string TSetupCommForm::LineAddresses() const {
    std::string out;
    for (int i = 0; i < kAddressCount; ++i)
        if (LineBoxes[i]->isChecked()) out += kDevAddressChars[i];
    return out;
}

void TSetupCommForm::UpdateLineHint() {
    TSettings chosen;
    chosen.LineAddresses = LineAddresses();
    const int address = DevAddressList->currentIndex();
    chosen.DevAddress = address >= 0 ? kDevAddressChars[address] : '0';
    // The rule the program measures by, said in the operator's terms.
    LineHint->setText(chosen.LineAddresses.size() >= 2
                          ? QStringLiteral("Опрашиваются все отмеченные: %1.")
                                .arg(AddressList(GaugeAddresses(chosen)))
                          : QStringLiteral("Отмечено меньше двух: опрашивается один прибор, "
                                           "«Адрес» %1.")
                                .arg(AddressList(GaugeAddresses(chosen))));
}

std::optional<TPortLine> TSetupCommForm::ChosenLine(std::string& why) const {
    const int number = platform::PortNumberOf(ChosenPortName());
    const int baud = BaudRateList->currentIndex(), parity = ParityList->currentIndex();
    const int stop = StopBitList->currentIndex();
    if (!IsPortNumber(number)) {
        why = ENoPortChosen().what();
        return std::nullopt;
    }
    if (baud < 0 || parity < 0 || stop < 0) {
        why = "Не выбраны скорость, контроль четности или стоповые биты.";
        return std::nullopt;
    }
    TPortLine line;
    line.number = static_cast<std::uint16_t>(number);
    line.baud = std::stoi(kBaudRates[baud]);
    line.parity = static_cast<TParity>(parity);
    line.stopBits = static_cast<std::uint16_t>(std::stoi(kStopBits[stop]));
    line.rtsOnSend = kRtsOnSendKinds[std::max(RtsOnSendList->currentIndex(), 0)];
    return line;
}

void TSetupCommForm::SetScanning(bool on) {
    ScanButton->setText(on ? QStringLiteral("Остановить") : QStringLiteral("Найти приборы"));
    // What the scan runs on, and what it writes, are not for changing meanwhile.
    for (QWidget* w : std::initializer_list<QWidget*>{OkButton, PortList, BaudRateList, ParityList,
                                                      StopBitList, DevAddressList, RtsOnSendList})
        w->setEnabled(!on);
    for (QCheckBox* box : LineBoxes)
        box->setEnabled(!on);
    if (on) {
        ScanProgress->setValue(0);
        ScanProgress->setTextVisible(true);
        ScanStatus->setText(QStringLiteral("Поиск…"));
    }
}

void TSetupCommForm::FindGauges() {
    if (!scan_) return;
    // A click inside the scan's own wait: the button says "Остановить" then.
    if (scan_->Running()) {
        scan_->Cancel();
        return;
    }
    std::string why;
    const std::optional<TPortLine> line = ChosenLine(why);
    if (!line) {
        showError(QString::fromStdString(why));
        return;
    }
    SetScanning(true);
    scan_->onProgress = [this](int done, int, char address, bool answered) {
        ScanProgress->setValue(done);
        if (const char* a = std::strchr(kDevAddressChars, address); a && address)
            LineBoxes[a - kDevAddressChars]->setChecked(answered);
    };
    const TLineScan::TResult result =
        scan_->Run(*line, ChosenPortName(), std::string(kDevAddressChars));
    scan_->onProgress = nullptr;
    SetScanning(false);
    if (!result.error.empty()) {
        ScanStatus->setText(QStringLiteral("Поиск не выполнен."));
        // Not while the dialog is on its way out.
        if (!doneAfterScan_) showError(QString::fromStdString(result.error));
    } else if (result.cancelled) {
        ScanStatus->setText(QStringLiteral("Поиск остановлен: опрошено адресов %1 из %2.")
                                .arg(result.asked.size())
                                .arg(kAddressCount));
    } else if (result.answered.empty()) {
        ScanStatus->setText(QStringLiteral("Ни один прибор не ответил."));
    } else {
        ScanStatus->setText(QStringLiteral("Ответили: %1.").arg(AddressList(result.answered)));
    }
    if (doneAfterScan_) QDialog::done(*std::exchange(doneAfterScan_, std::nullopt));
}

void TSetupCommForm::done(int result) {
    if (Scanning()) {
        // Closing inside the scan's wait: the wait is cut, and the dialog closes once the scan
        // has put the port back.
        doneAfterScan_ = result;
        scan_->Cancel();
        return;
    }
    QDialog::done(result);
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

// Puts the port back as it was, open again if it was; says so when that fails too.
void RestorePort(TComPort& port, const TPortLine& line, const std::string& name,
                 const std::exception& refused) {
    try {
        SetLine(port, line);
    } catch (const std::exception& e) {
        throw std::runtime_error(ErrorReason(refused) + "\nПрежний порт " + name +
                                 " открыть снова не удалось: " + ErrorReason(e));
    }
}

} // namespace

bool RunConnectionDialog(QWidget* owner, TSettings& settings, TGaugeBus& bus,
                         std::vector<platform::PortEntry>& portNames,
                         const platform::PortMapSources& sources, const TSetupCommExec& exec) {
    TComPort& port = bus.Port();
    // Adapters come and go while the program runs: the list is read afresh each time.
    portNames = platform::ScanPortMap(sources);
    std::erase_if(portNames, [](const platform::PortEntry& e) { return !IsPortNumber(e.number); });

    // Owned by the window, yet freed here on every path; the guard copes with the window having
    // taken it down first.
    QPointer<TSetupCommForm> form = new TSetupCommForm(owner, &bus);
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
        settings.LineAddresses = form->LineAddresses();
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
