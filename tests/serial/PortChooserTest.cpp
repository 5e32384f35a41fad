// The port chooser lists the ports that can be opened, each with the device behind its name.
#include "PortChooserDialog.h"

#include "Pty.h"
#include "SerialDevice.h"
#include "TempDir.h"

#include <QComboBox>
#include <QLabel>
#include <gtest/gtest.h>

using namespace vg57;

TEST(PortChooser, listsOpenableAndBusyPortsButNotMissingOnes) {
    test::TempPortMap map;
    test::PtyPair free, busy;
    map.Link(41, free.SlavePath());
    map.Link(42, busy.SlavePath());
    map.Link(43, "/dev/ttyUSB-gone");
    int held = -1;
    ASSERT_EQ(platform::OpenSerialDevice(busy.SlavePath(), held), 0); // another program has it
    std::vector<int> numbers;
    for (const auto& p : OpenablePorts())
        if (p.number >= 41 && p.number <= 43) numbers.push_back(p.number);
    platform::CloseSerialDevice(held);
    EXPECT_EQ(numbers, (std::vector<int>{41, 42}));
}

TEST(PortChooser, showsTheDeviceBesideEachNameAndReturnsTheChosenNumber) {
    TPortChooserDialog dialog({{4, "/dev/ttyUSB0"}, {7, "/dev/pts/3"}});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Port"));
    ASSERT_EQ(dialog.PortList()->count(), 2);
    EXPECT_TRUE(dialog.PortList()->itemText(0).startsWith(QStringLiteral("COM4")));
    EXPECT_TRUE(dialog.PortList()->itemText(0).contains(QStringLiteral("/dev/ttyUSB0")));
    EXPECT_EQ(dialog.ChosenNumber(), 4) << "the first entry is preselected";
    dialog.PortList()->setCurrentIndex(1);
    EXPECT_EQ(dialog.ChosenNumber(), 7);
    QStringList texts;
    for (auto* l : dialog.findChildren<QLabel*>())
        texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("The configured serial port is not valid.")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Please choose another port.")));
    TPortChooserDialog empty({});
    EXPECT_EQ(empty.ChosenNumber(), 0);
}
