// The connection parameters dialog, offscreen, over a port map of our own: links COM<n> in a
// temporary XDG_CONFIG_HOME, and no /sys/class/tty devices, so the machine's ports stay out.
#include "ConnParamsForm.h"

#include "ComPort.h"
#include "GaugeBus.h"
#include "Pty.h"
#include "TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vg57;
using vg57::test::TempDir;
using vg57::test::TempPortMap;

namespace {

QStringList Entries(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

struct Fixture {
    TempPortMap map;
    TempDir noTtys;
    platform::PortMapSources sources;
    TSettings settings;
    TGaugeBus bus;
    TComPort& port = bus.Port();
    std::vector<platform::PortEntry> portNames;
    bool ran = false; // the hook's expectations were checked: the dialog was shown

    explicit Fixture(std::initializer_list<int> ports) {
        sources.sysClassTty = noTtys.Path();
        for (int n : ports)
            map.Link(n, "/dev/null");
    }
    ~Fixture() { port.SetOpen(false); } // the bus wants its port closed before it goes
    // Opens the dialog, lets `act` work on it, and returns what RunConnectionDialog returned.
    bool Run(const std::function<int(TSetupCommForm&)>& act) {
        return RunConnectionDialog(nullptr, settings, bus, portNames, sources,
                                   [this, &act](TSetupCommForm& d) {
                                       ran = true;
                                       return act(d);
                                   });
    }
};

} // namespace

TEST(ConnectionDialog, listsAndSelectionFollowTheSettings) {
    Fixture f{10, 3, 1, 2};
    f.settings.ComPort = "com3"; // the name is matched whatever the case
    f.Run([](TSetupCommForm& d) {
        EXPECT_EQ(d.windowTitle(), "Настройка параметров соединения");
        QStringList ports;
        for (int i = 0; i < d.PortList->count(); ++i)
            ports << d.PortList->itemData(i).toString();
        EXPECT_EQ(ports, QStringList({"COM1", "COM2", "COM3", "COM10"}));
        EXPECT_EQ(d.PortList->itemText(2), "COM3    /dev/null") << "the device beside the name";
        EXPECT_EQ(d.PortList->currentIndex(), 2);
        EXPECT_EQ(Entries(d.BaudRateList), QStringList({"1200", "4800", "9600", "19200", "38400"}));
        EXPECT_EQ(Entries(d.ParityList), QStringList({"Нет", "Нечетн", "Четн"}));
        EXPECT_EQ(Entries(d.StopBitList), QStringList({"1", "2"}));
        EXPECT_EQ(Entries(d.DevAddressList).join(""), "0123456789ABCDEF");
        EXPECT_EQ(Entries(d.RtsOnSendList),
                  QStringList({"высокий", "низкий", "как задано драйвером"}));
        EXPECT_EQ(d.RtsOnSendList->currentText(), "как задано драйвером");
        EXPECT_FALSE(d.PortList->isEditable());
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(f.portNames.size(), 4u);
    EXPECT_TRUE(f.ran);
}

TEST(ConnectionDialog, withoutTheConfiguredPortNoPortIsSelected) {
    Fixture f{1, 4};
    f.Run([](TSetupCommForm& d) {
        EXPECT_EQ(d.PortList->count(), 2);
        EXPECT_EQ(d.PortList->currentIndex(), -1);
        EXPECT_EQ(d.BaudRateList->currentText(), "9600");
        EXPECT_EQ(d.ParityList->currentText(), "Нечетн");
        EXPECT_EQ(d.StopBitList->currentText(), "1");
        EXPECT_EQ(d.DevAddressList->currentText(), "0");
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(f.ran);
}

TEST(ConnectionDialog, numbersAboveTheLastPortNumberAreNotPorts) {
    Fixture f{65535, 65536, 100000};
    f.Run([](TSetupCommForm& d) {
        EXPECT_EQ(d.PortList->count(), 1);
        EXPECT_EQ(d.PortList->itemData(0).toString(), "COM65535");
        return int(QDialog::Rejected);
    });
    ASSERT_EQ(f.portNames.size(), 1u);
    EXPECT_TRUE(f.ran);
}

TEST(ConnectionDialog, okAppliesEveryChoiceToTheSettingsAndThePort) {
    struct Row {
        int portIndex, baud, parity, stop, address, rts;
        TSettings expected;
        TParity portParity;
        TRtsOnSend portRts;
    };
    const Row rows[] = {
        {1, 4, 2, 1, 10, 1, {"COM4", 38400, 2, 2, 'A', "", 1}, pEven, TRtsOnSend::Low},
        {0, 0, 0, 0, 15, 0, {"COM1", 1200, 0, 1, 'F', "", 0}, pNone, TRtsOnSend::High},
    };
    for (const Row& r : rows) {
        Fixture f{1, 4};
        const bool ok = f.Run([&](TSetupCommForm& d) {
            d.PortList->setCurrentIndex(r.portIndex);
            d.BaudRateList->setCurrentIndex(r.baud);
            d.ParityList->setCurrentIndex(r.parity);
            d.StopBitList->setCurrentIndex(r.stop);
            d.DevAddressList->setCurrentIndex(r.address);
            d.RtsOnSendList->setCurrentIndex(r.rts);
            return int(QDialog::Accepted);
        });
        EXPECT_TRUE(ok);
        EXPECT_EQ(f.settings, r.expected) << r.expected.ComPort;
        EXPECT_EQ(f.port.ComNumber(), platform::PortNumberOf(r.expected.ComPort));
        EXPECT_EQ(f.port.Baud(), r.expected.BaudRate);
        EXPECT_EQ(f.port.Parity(), r.portParity);
        EXPECT_EQ(f.port.StopBits(), r.expected.StopBits);
        EXPECT_EQ(f.port.RtsOnSend(), r.portRts);
    }
}

TEST(ConnectionDialog, okWithNoPortIsRefusedAndKeepsThePortName) {
    for (std::initializer_list<int> ports : {std::initializer_list<int>{}, {1, 4}}) {
        Fixture f{ports};
        const std::uint16_t numberBefore = f.port.ComNumber();
        EXPECT_THROW(f.Run([](TSetupCommForm& d) {
            d.DevAddressList->setCurrentIndex(7);
            d.BaudRateList->setCurrentIndex(0);
            return int(QDialog::Accepted);
        }),
                     ENoPortChosen);
        EXPECT_EQ(f.settings, TSettings{}) << "COM3 still named, nothing else applied";
        EXPECT_EQ(f.port.ComNumber(), numberBefore);
    }
}

// While COM3 is open, OK on a listed port that can't be opened: the error is shown, and all is
// as before the dialog, COM3 open again; or the error says that COM3 could not be reopened.
TEST(ConnectionDialog, aRefusedOkLeavesEverythingAsItWasWithTheOldPortOpenAgain) {
    for (const bool oldPortGone : {false, true}) {
        SCOPED_TRACE(oldPortGone ? "old port gone" : "old port there");
        Fixture f{4}; // COM4 is no terminal: it won't open
        vg57::test::PtyPair pty;
        f.map.Link(3, pty.SlavePath());
        f.settings.ComPort = "COM3";
        f.port.SetComNumber(3);
        f.port.SetRS485Mode(true);
        f.port.SetOpen(true);
        const TSettings before = f.settings;
        const TParity parity = f.port.Parity();
        std::string error;
        try {
            f.Run([&](TSetupCommForm& d) {
                d.PortList->setCurrentIndex(
                    d.PortList->findText(QStringLiteral("COM4"), Qt::MatchStartsWith));
                d.BaudRateList->setCurrentIndex(4);
                d.ParityList->setCurrentIndex(2);
                d.StopBitList->setCurrentIndex(1);
                d.DevAddressList->setCurrentIndex(10);
                d.RtsOnSendList->setCurrentIndex(0);
                // The open port tells which direction control is in force.
                const int com3 = d.PortList->findData(QStringLiteral("COM3"));
                EXPECT_NE(d.PortList->itemData(com3, Qt::ToolTipRole).toString().indexOf("RTS"),
                          -1);
                if (oldPortGone) f.map.Link(3, "/dev/null");
                return int(QDialog::Accepted);
            });
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_NE(error, "");
        EXPECT_EQ(f.settings, before);
        EXPECT_EQ(f.port.ComNumber(), 3);
        EXPECT_EQ(f.port.Baud(), 19200);
        EXPECT_EQ(f.port.Parity(), parity);
        EXPECT_EQ(f.port.StopBits(), 1);
        EXPECT_EQ(f.port.RtsOnSend(), TRtsOnSend::Driver);
        EXPECT_EQ(f.port.Open(), !oldPortGone);
        EXPECT_EQ(error.find("Прежний порт COM3 открыть снова не удалось") != std::string::npos,
                  oldPortGone)
            << error;
    }
}

// Measuring keeps the dialog shut: after Stop it still tells how the port was last driven.
TEST(ConnectionDialog, theClosedPortTellsItsDirectionControlAtTheLastOpen) {
    Fixture f{};
    vg57::test::PtyPair pty;
    f.map.Link(3, pty.SlavePath());
    f.port.SetComNumber(3);
    f.port.SetRS485Mode(true);
    f.port.SetOpen(true);
    f.port.SetOpen(false);
    f.Run([](TSetupCommForm& d) {
        EXPECT_EQ(d.PortList->toolTip().toStdString(),
                  "при последнем открытии: направление RS-485 не переключается: у порта нет "
                  "линии RTS");
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(f.ran);
}

TEST(ConnectionDialog, aPortPluggedInSinceTheLastOpeningIsOffered) {
    Fixture f{1};
    auto count = [](TSetupCommForm& d) {
        EXPECT_GE(d.PortList->count(), 1);
        return int(QDialog::Rejected);
    };
    f.Run(count);
    EXPECT_EQ(f.portNames.size(), 1u);
    f.map.Link(3, "/dev/zero");
    f.Run(count);
    ASSERT_EQ(f.portNames.size(), 2u);
    EXPECT_EQ(f.portNames[1].Name(), "COM3");
}

// The real modal run: focus starts on "Ok", Enter confirms, Escape cancels and changes nothing,
// and the dialog is gone afterwards on both paths.
TEST(ConnectionDialog, keyboardFocusStartsOnOkEnterConfirmsEscapeCancels) {
    for (const auto& [key, expected] : {std::pair{Qt::Key_Return, true}, {Qt::Key_Escape, false}}) {
        Fixture f{3};
        QWidget owner;
        QPointer<QWidget> seen;
        QTimer::singleShot(0, [&, key = key] {
            auto* d = qobject_cast<TSetupCommForm*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            seen = d;
            EXPECT_EQ(d->focusWidget(), d->OkButton);
            EXPECT_EQ(d->OkButton->nextInFocusChain(), d->CancelButton);
            EXPECT_EQ(d->CancelButton->nextInFocusChain(), d->PortList);
            EXPECT_EQ(d->StopBitList->nextInFocusChain(), d->DevAddressList);
            d->BaudRateList->setCurrentIndex(0);
            d->ParityList->setCurrentIndex(2);
            d->DevAddressList->setCurrentIndex(10);
            QTest::keyClick(d, key);
        });
        const TParity parityBefore = f.port.Parity();
        const bool ok = RunConnectionDialog(&owner, f.settings, f.bus, f.portNames, f.sources);
        EXPECT_EQ(ok, expected);
        EXPECT_TRUE(seen.isNull()) << "the dialog is destroyed";
        if (expected) {
            EXPECT_EQ(f.settings, (TSettings{"COM3", 1200, 2, 1, 'A', "", 2}));
            EXPECT_EQ(f.port.Parity(), pEven);
        } else {
            EXPECT_EQ(f.settings, TSettings{});
            EXPECT_EQ(f.port.Parity(), parityBefore);
        }
        EXPECT_TRUE(owner.findChildren<TSetupCommForm*>().isEmpty());
    }
}

// "Приборы на линии": ticked as the settings say, stored on OK in address order beside the
// single address, and the rule that decides between them said under the board.
TEST(ConnectionDialog, lineAddressesAndTheSingleAddressRoundTrip) {
    struct Row {
        std::string before;
        std::vector<int> toggle;
        int address;
        std::string after, hint;
    };
    const Row rows[] = {
        {"", {15, 1, 5}, 10, "15F", "Опрашиваются все отмеченные: 1, 5, F."},
        {"0A", {0}, 3, "A", "Отмечено меньше двух: опрашивается один прибор, «Адрес» 3."},
    };
    for (const Row& r : rows) {
        Fixture f{3};
        f.settings.LineAddresses = r.before;
        EXPECT_TRUE(f.Run([&](TSetupCommForm& d) {
            EXPECT_EQ(d.LineAddresses(), r.before);
            for (int i : r.toggle)
                d.LineBoxes[i]->toggle();
            d.DevAddressList->setCurrentIndex(r.address);
            EXPECT_EQ(d.LineHint->text().toStdString(), r.hint);
            return int(QDialog::Accepted);
        }));
        EXPECT_EQ(f.settings.LineAddresses, r.after);
        EXPECT_EQ(f.settings.DevAddress, kDevAddressChars[r.address]);
    }
}

// A scan on a line where nothing answers, and what lands inside its wait: "Остановить" in the
// second address's wait, or Escape or the close button in the first's. The wait is cut there,
// no scan starts inside it, and the port is closed again as it was found.
TEST(ConnectionDialog, stopEscapeOrCloseInsideTheScansWaitCutItThere) {
    enum Act { stop, escape, close };
    for (const Act act : {stop, escape, close}) {
        SCOPED_TRACE(act);
        Fixture f{};
        vg57::test::PtyPair silent;
        f.map.Link(3, silent.SlavePath());
        f.settings.LineAddresses = "01";
        const int cutAtMs = act == stop ? 2500 : 300;
        std::int64_t tookMs = -1;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<TSetupCommForm*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            QTimer::singleShot(cutAtMs, Qt::PreciseTimer, d, [&, d] {
                EXPECT_EQ(d->ScanButton->text(), "Остановить");
                EXPECT_FALSE(d->OkButton->isEnabled());
                if (act == stop) d->ScanButton->click();
                if (act == escape) QTest::keyClick(d, Qt::Key_Escape);
                if (act == close) d->close();
            });
            QElapsedTimer t;
            t.start();
            d->ScanButton->click();
            tookMs = t.elapsed();
            if (act != stop) return;
            EXPECT_EQ(d->ScanButton->text(), "Найти приборы");
            EXPECT_EQ(d->LineAddresses(), "1") << "0 was silent, 1 was not asked";
            EXPECT_EQ(d->ScanProgress->value(), 1);
            EXPECT_EQ(d->ScanStatus->text(), "Поиск остановлен: опрошено адресов 1 из 16.");
            d->reject();
        });
        EXPECT_FALSE(RunConnectionDialog(nullptr, f.settings, f.bus, f.portNames, f.sources));
        EXPECT_LT(tookMs, cutAtMs + 1500) << "cut inside the wait";
        EXPECT_EQ(f.bus.Counters().exchanges, act == stop ? 2u : 1u);
        EXPECT_FALSE(f.port.Open());
        EXPECT_FALSE(f.bus.Cut());
        EXPECT_EQ(f.settings.LineAddresses, "01") << "closed without OK";
    }
}

TEST(ConnectionDialog, aScanOnAPortThatWontOpenSaysWhyAndTicksNothing) {
    Fixture f{4}; // COM4 is no terminal
    f.settings.ComPort = "COM4";
    f.settings.LineAddresses = "5";
    QStringList errors;
    f.Run([&](TSetupCommForm& d) {
        d.showError = [&](const QString& text) { errors << text; };
        d.ScanButton->click();
        EXPECT_EQ(d.LineAddresses(), "5");
        EXPECT_EQ(d.ScanButton->text(), "Найти приборы");
        return int(QDialog::Rejected);
    });
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Невозможно открыть порт COM4: ")) << errors[0].toStdString();
    EXPECT_EQ(f.bus.Counters().exchanges, 0u);
    EXPECT_FALSE(f.port.Open());
}
