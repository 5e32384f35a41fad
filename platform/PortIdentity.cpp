#include "PortIdentity.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace vg57::platform {

std::string PortIdentity(int number, const PortMapSources& sources) {
    for (const PortEntry& e : ScanPortMap(sources)) {
        if (e.number != number) continue;
        if (!e.present) return {};
        if (e.override) {
            const std::string dir =
                sources.overridesDir.empty() ? PortMapDir() : sources.overridesDir;
            return "link:" + dir + "/" + e.Name();
        }
        std::error_code ec;
        const fs::path target = fs::weakly_canonical(e.device, ec);
        for (const auto& link :
             fs::directory_iterator(fs::path(sources.devDir) / "serial/by-id", ec)) {
            std::error_code lec;
            if (fs::weakly_canonical(link.path(), lec) == target && !lec)
                return link.path().string();
        }
        return e.device;
    }
    return {};
}

} // namespace vg57::platform
