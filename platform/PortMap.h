// The port map: which device a port name "COM<n>" stands for.
//
// Links named COM<n> in the port map folder ($XDG_CONFIG_HOME/vg57/ports, by default
// ~/.config/vg57/ports) are overrides: COM<n> is whatever the link points to (a
// /dev/serial/by-id path, any tty, the gauge simulator's pseudo-terminal). Every serial device
// with real hardware behind it in /sys/class/tty then gets the lowest number no override takes,
// unless an override already points to it.
#pragma once

#include <string>
#include <vector>

namespace vg57::platform {

struct PortEntry {
    int number = 0;
    std::string device;    // path that opening COM<number> opens
    bool override = false; // from a link in the port map folder
    bool present = true;   // the device exists now (an override's target may dangle)
    std::string Name() const { return "COM" + std::to_string(number); }
};

struct PortMapSources {
    std::string overridesDir; // empty: the default folder
    std::string sysClassTty = "/sys/class/tty";
    std::string devDir = "/dev";
};

// The default port map folder.
std::string PortMapDir();

// Every entry, sorted by number.
std::vector<PortEntry> ScanPortMap(const PortMapSources& sources = {});

// The port names ("COM1", "COM2", "COM10", ...), sorted by number: the list the operator
// chooses from.
std::vector<std::string> PortNames(const PortMapSources& sources = {});

// The device of COM<number>, or empty when the number maps to nothing.
std::string PortDevice(int number, const PortMapSources& sources = {});

// The number in a port name: what follows its first three characters ("COM10" -> 10), or -1.
int PortNumberOf(const std::string& name);

} // namespace vg57::platform
