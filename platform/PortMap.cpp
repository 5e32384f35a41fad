#include "PortMap.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace vg57::platform {

namespace {

// Families in the order their ports are numbered; others follow by name.
const char* const kFamilies[] = {"ttyS",     "ttyUSB",      "ttyACM", "ttyAMA",
                                 "ttyXRUSB", "ttyCH343USB", "rfcomm"};

struct TtyName {
    std::string family;
    long index = -1;
};

TtyName SplitTty(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    if (digits == name.size() || digits == 0) return {name, -1};
    return {name.substr(0, digits), std::strtol(name.c_str() + digits, nullptr, 10)};
}

int FamilyRank(const std::string& family) {
    for (std::size_t i = 0; i < std::size(kFamilies); ++i)
        if (family == kFamilies[i]) return static_cast<int>(i);
    return static_cast<int>(std::size(kFamilies));
}

std::string ReadFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

// "major:minor" from a sysfs dev file.
dev_t ParseDev(const std::string& text) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return 0;
    return makedev(major, minor);
}

// A tty with hardware behind it: it has a device link, and a legacy UART port that was only
// reserved (no chip found) reports the unknown port type 0.
bool HasHardware(const fs::path& ttyDir) {
    std::error_code ec;
    if (!fs::exists(ttyDir / "device", ec)) return false;
    const fs::path type = ttyDir / "type";
    if (fs::exists(type, ec) && ReadFirstLine(type) == "0") return false;
    return true;
}

} // namespace

std::string PortMapDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/vg57/ports";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/vg57/ports";
}

int PortNumberOf(const std::string& name) {
    if (name.size() < 4) return -1;
    const std::string digits = name.substr(3);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return -1;
    return std::atoi(digits.c_str());
}

std::vector<PortEntry> ScanPortMap(const PortMapSources& sources) {
    std::vector<PortEntry> entries;
    std::set<int> taken;
    std::set<dev_t> overriddenDevices;
    std::error_code ec;

    const fs::path dir = sources.overridesDir.empty() ? PortMapDir() : sources.overridesDir;
    for (const auto& item : fs::directory_iterator(dir, ec)) {
        const std::string name = item.path().filename().string();
        if (name.rfind("COM", 0) != 0 || !fs::is_symlink(item.symlink_status(ec))) continue;
        const int number = PortNumberOf(name);
        if (number <= 0) continue;
        fs::path target = fs::read_symlink(item.path(), ec);
        if (ec) continue;
        if (target.is_relative()) target = item.path().parent_path() / target;
        PortEntry e{number, target.string(), true, false};
        struct stat st {};
        if (stat(item.path().c_str(), &st) == 0) {
            e.present = true;
            if (S_ISCHR(st.st_mode)) overriddenDevices.insert(st.st_rdev);
        }
        taken.insert(number);
        entries.push_back(e);
    }

    struct Auto {
        TtyName name;
        std::string device;
    };
    std::vector<Auto> autos;
    for (const auto& item : fs::directory_iterator(sources.sysClassTty, ec)) {
        const std::string name = item.path().filename().string();
        if (!HasHardware(item.path())) continue;
        const dev_t dev = ParseDev(ReadFirstLine(item.path() / "dev"));
        if (dev != 0 && overriddenDevices.count(dev)) continue;
        autos.push_back({SplitTty(name), sources.devDir + "/" + name});
    }
    std::sort(autos.begin(), autos.end(), [](const Auto& a, const Auto& b) {
        const int ra = FamilyRank(a.name.family), rb = FamilyRank(b.name.family);
        if (ra != rb) return ra < rb;
        if (a.name.family != b.name.family) return a.name.family < b.name.family;
        return a.name.index < b.name.index;
    });
    int next = 1;
    for (const auto& a : autos) {
        while (taken.count(next))
            ++next;
        entries.push_back({next, a.device, false, true});
        taken.insert(next);
    }
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return entries;
}

std::vector<std::string> PortNames(const PortMapSources& sources) {
    std::vector<std::string> names;
    for (const auto& e : ScanPortMap(sources)) names.push_back(e.Name());
    return names;
}

std::string PortDevice(int number, const PortMapSources& sources) {
    for (const auto& e : ScanPortMap(sources))
        if (e.number == number) return e.device;
    return {};
}

} // namespace vg57::platform
