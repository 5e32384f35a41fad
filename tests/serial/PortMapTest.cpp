#include "PortMap.h"
#include "PortIdentity.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace vg57::platform;
using vg57::test::TempDir;

namespace {

// A fake /sys/class/tty and /dev, and an overrides folder.
struct FakeSystem {
    TempDir root;
    PortMapSources sources;

    FakeSystem() {
        sources.overridesDir = root.Path() + "/ports";
        sources.sysClassTty = root.Path() + "/sys";
        sources.devDir = root.Path() + "/dev";
        for (const auto& d : {sources.overridesDir, sources.sysClassTty, sources.devDir})
            fs::create_directories(d);
    }
    // A tty in sysfs; type "0" is a reserved port without a UART; no device: a virtual tty.
    void Tty(const std::string& name, const std::string& dev, bool device = true,
             const char* type = nullptr) {
        const fs::path dir = fs::path(sources.sysClassTty) / name;
        fs::create_directories(dir);
        std::ofstream(dir / "dev") << dev << "\n";
        if (device) fs::create_directories(dir / "device");
        if (type) std::ofstream(dir / "type") << type << "\n";
    }
    void Override(const std::string& name, const std::string& target) {
        fs::create_symlink(target, fs::path(sources.overridesDir) / name);
    }
    std::vector<std::pair<int, std::string>> Map() const {
        std::vector<std::pair<int, std::string>> out;
        for (const auto& e : ScanPortMap(sources))
            out.emplace_back(e.number, e.device);
        return out;
    }
};

} // namespace

TEST(PortMap, realSerialDevicesAreNumberedByFamilyThenIndex) {
    FakeSystem s;
    s.Tty("ttyUSB0", "188:0");
    s.Tty("ttyS10", "4:74", true, "4");
    s.Tty("ttyS2", "4:66", true, "4");
    s.Tty("ttyACM0", "166:0");
    const std::string dev = s.sources.devDir;
    EXPECT_EQ(s.Map(), (std::vector<std::pair<int, std::string>>{{1, dev + "/ttyS2"},
                                                                 {2, dev + "/ttyS10"},
                                                                 {3, dev + "/ttyUSB0"},
                                                                 {4, dev + "/ttyACM0"}}));
}

TEST(PortMap, namesAreSortedByNumberNotAsText) {
    FakeSystem s;
    s.Override("COM10", "/dev/null");
    s.Override("COM2", "/dev/zero");
    s.Tty("ttyUSB0", "188:0");
    EXPECT_EQ(PortNames(s.sources), (std::vector<std::string>{"COM1", "COM2", "COM10"}));
}

TEST(PortMap, placeholdersAndVirtualTerminalsAreLeftOut) {
    FakeSystem s;
    s.Tty("ttyS0", "4:64", true, "4");
    s.Tty("ttyS1", "4:65", true, "0"); // reserved, no UART behind it
    s.Tty("tty1", "4:1", false);       // a virtual console
    s.Tty("ptmx", "5:2", false);
    const auto map = s.Map();
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].second, s.sources.devDir + "/ttyS0");
}

TEST(PortMap, overridesKeepTheirNumbersAndAutomaticEntriesTakeTheLowestFree) {
    FakeSystem s;
    s.Override("COM1", "/dev/serial/by-id/usb-FTDI_adapter-if00-port0");
    s.Override("COM3", "/dev/pts/7");
    s.Tty("ttyS0", "4:64", true, "4");
    s.Tty("ttyUSB0", "188:0");
    const std::string dev = s.sources.devDir;
    EXPECT_EQ(s.Map(), (std::vector<std::pair<int, std::string>>{
                           {1, "/dev/serial/by-id/usb-FTDI_adapter-if00-port0"},
                           {2, dev + "/ttyS0"},
                           {3, "/dev/pts/7"},
                           {4, dev + "/ttyUSB0"}}));
}

TEST(PortMap, aDeviceAlreadyTargetedByAnOverrideGetsNoSecondNumber) {
    FakeSystem s;
    // /dev/null is a character device 1:3; a tty entry with the same numbers is that device.
    s.Override("COM5", "/dev/null");
    s.Tty("ttyUSB0", "1:3");
    s.Tty("ttyUSB1", "188:1");
    EXPECT_EQ(s.Map(), (std::vector<std::pair<int, std::string>>{{1, s.sources.devDir + "/ttyUSB1"},
                                                                 {5, "/dev/null"}}));
}

TEST(PortMap, aDanglingOverrideStillHoldsItsNumber) {
    FakeSystem s;
    s.Override("COM1", "/dev/pts/does-not-exist"); // a simulator that is gone, a pulled adapter
    s.Tty("ttyUSB0", "188:0");
    const auto entries = ScanPortMap(s.sources);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].number, 1);
    EXPECT_TRUE(entries[0].override);
    EXPECT_FALSE(entries[0].present);
    EXPECT_EQ(entries[1].number, 2);
    EXPECT_EQ(PortDevice(1, s.sources), "/dev/pts/does-not-exist");
    EXPECT_EQ(PortDevice(9, s.sources), "") << "a number that maps to nothing";
}

TEST(PortMap, onlyLinksNamedComWithANumberAreOverrides) {
    FakeSystem s;
    s.Override("COM0", "/dev/null");
    s.Override("COMX", "/dev/null");
    s.Override("gauge", "/dev/null");
    std::ofstream(fs::path(s.sources.overridesDir) / "COM4") << "a plain file, not a link";
    EXPECT_TRUE(s.Map().empty());
}

TEST(PortMap, relativeLinksResolveAgainstTheFolder) {
    FakeSystem s;
    std::ofstream(fs::path(s.sources.overridesDir) / "target") << "x";
    s.Override("COM2", "target");
    ASSERT_EQ(s.Map().size(), 1u);
    EXPECT_EQ(s.Map()[0].second, s.sources.overridesDir + "/target");
}

TEST(PortMap, theFolderFollowsXdgConfigHome) {
    vg57::test::TempPortMap map;
    EXPECT_EQ(PortMapDir(), map.Dir());
}

TEST(PortMap, portNumbersAreWhatFollowsThePrefix) {
    EXPECT_EQ(PortNumberOf("COM3"), 3);
    EXPECT_EQ(PortNumberOf("COM10"), 10);
    EXPECT_EQ(PortNumberOf("com2"), 2);
    EXPECT_EQ(PortNumberOf("COM"), -1);
    EXPECT_EQ(PortNumberOf("COMx1"), -1);
}

TEST(PortIdentity, anAdapterIsKnownByItsStableNameWhateverNumberItComesBackAs) {
    FakeSystem s;
    const fs::path dev = s.sources.devDir, byId = dev / "serial/by-id";
    fs::create_directories(byId);
    auto plug = [&](const std::string& tty, const std::string& devNo, const std::string& id) {
        s.Tty(tty, devNo);
        std::ofstream(dev / tty).put('\n');
        fs::remove(byId / id);
        fs::create_symlink("../../" + tty, byId / id);
    };
    plug("ttyUSB0", "188:0", "usb-ours");
    plug("ttyUSB1", "188:1", "usb-other");
    const std::string ours = PortIdentity(1, s.sources);
    EXPECT_EQ(ours, (byId / "usb-ours").string());

    // Ours drops out and returns as ttyUSB2 while ttyUSB0 is still held: the other adapter
    // now has number 1, ours number 2.
    fs::remove_all(fs::path(s.sources.sysClassTty) / "ttyUSB0");
    fs::remove(dev / "ttyUSB0");
    plug("ttyUSB2", "188:2", "usb-ours");
    EXPECT_NE(PortIdentity(1, s.sources), ours) << "another adapter took the number";
    EXPECT_EQ(FindPortByIdentity(ours, s.sources), 2);

    s.Override("COM7", (dev / "ttyUSB1").string());
    EXPECT_EQ(PortIdentity(7, s.sources), "link:" + s.sources.overridesDir + "/COM7");
    EXPECT_EQ(FindPortByIdentity("", s.sources), 0);
}
