// Which of the window's actions are enabled. The measurement cycle, the connection set-up and the
// gauge actions decide; the window mirrors the states onto its menu items and tool buttons.
#pragma once

#include <array>
#include <functional>

namespace vg57 {

enum class TActionId {
    Start,
    Stop,
    LoadfromFile,
    Exit,
    DeviceSettings,
    CalibrAtm,
    CalibrZero,
    ProgramSettings,
    ConnectionSetup,
    LoadReference,
};
constexpr int kActionCount = 10;

class TActionStates {
public:
    // The states at start: Start, LoadfromFile, Exit, ProgramSettings, ConnectionSetup and
    // LoadReference.
    TActionStates();

    bool Enabled(TActionId id) const {
        return enabled_[static_cast<int>(id)] && !held_[static_cast<int>(id)];
    }
    void Enable(TActionId id, bool on);
    // Keeps an action disabled while held (a load runs), whatever Enable says meanwhile; on
    // release it takes the state Enable gave it last, so a Stop under a load is not lost.
    void Hold(TActionId id, bool on);

    // Called after every change, with the action that changed.
    std::function<void(TActionId id, bool on)> changed;

private:
    void Set(std::array<bool, kActionCount>& states, TActionId id, bool on);
    std::array<bool, kActionCount> enabled_{}, held_{};
};

} // namespace vg57
