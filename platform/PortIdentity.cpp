#include "PortIdentity.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace vg57::platform {

namespace {

std::string IdentityOf(const PortEntry& e, const PortMapSources& sources) {
    if (!e.present) return {};
    if (e.override) {
        const std::string dir = sources.overridesDir.empty() ? PortMapDir() : sources.overridesDir;
        return "link:" + dir + "/" + e.Name();
    }
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(e.device, ec);
    for (const auto& link : fs::directory_iterator(fs::path(sources.devDir) / "serial/by-id", ec)) {
        std::error_code lec;
        if (fs::weakly_canonical(link.path(), lec) == target && !lec) return link.path().string();
    }
    return e.device;
}

} // namespace

std::string PortIdentity(int number, const PortMapSources& sources) {
    for (const PortEntry& e : ScanPortMap(sources))
        if (e.number == number) return IdentityOf(e, sources);
    return {};
}

int FindPortByIdentity(const std::string& identity, const PortMapSources& sources) {
    if (identity.empty()) return 0;
    for (const PortEntry& e : ScanPortMap(sources))
        if (IdentityOf(e, sources) == identity) return e.number;
    return 0;
}

} // namespace vg57::platform
