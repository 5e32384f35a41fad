// What a port number stands for beyond its device path, so that an adapter that dropped out is
// found again when it returns, and never confused with another adapter that has taken its
// number meanwhile.
#pragma once

#include "PortMap.h"

#include <string>

namespace vg57::platform {

// "link:<path>" for a number set by a link in the port map folder (whatever it points to now);
// for an automatic entry, the adapter's stable name under <dev>/serial/by-id when it has one,
// else its device path. Empty when the number maps to nothing present.
std::string PortIdentity(int number, const PortMapSources& sources = {});

// The number whose identity is `identity` now (an adapter that came back may have another
// number: automatic numbers follow the devices present), or 0 when none has it.
int FindPortByIdentity(const std::string& identity, const PortMapSources& sources = {});

} // namespace vg57::platform
