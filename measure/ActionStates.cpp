#include "ActionStates.h"

namespace vg57 {

TActionStates::TActionStates() {
    for (TActionId id : {TActionId::Start, TActionId::LoadfromFile, TActionId::Exit,
                         TActionId::ProgramSettings, TActionId::ConnectionSetup})
        enabled_[static_cast<int>(id)] = true;
}

void TActionStates::Enable(TActionId id, bool on) {
    bool& slot = enabled_[static_cast<int>(id)];
    if (slot == on) return;
    slot = on;
    if (changed) changed(id, on);
}

} // namespace vg57
