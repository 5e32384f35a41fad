#include "ActionStates.h"

namespace vg57 {

TActionStates::TActionStates() {
    for (TActionId id :
         {TActionId::Start, TActionId::LoadfromFile, TActionId::Exit, TActionId::ProgramSettings,
          TActionId::ConnectionSetup, TActionId::LoadReference})
        enabled_[static_cast<int>(id)] = true;
}

void TActionStates::Enable(TActionId id, bool on) {
    Set(enabled_, id, on);
}

void TActionStates::Hold(TActionId id, bool on) {
    Set(held_, id, on);
}

void TActionStates::Set(std::array<bool, kActionCount>& states, TActionId id, bool on) {
    const bool before = Enabled(id);
    states[static_cast<int>(id)] = on;
    if (changed && Enabled(id) != before) changed(id, Enabled(id));
}

} // namespace vg57
