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
};
constexpr int kActionCount = 9;

class TActionStates {
public:
    // The states at start: Start, LoadfromFile, Exit, ProgramSettings and ConnectionSetup.
    TActionStates();

    bool Enabled(TActionId id) const { return enabled_[static_cast<int>(id)]; }
    void Enable(TActionId id, bool on);

    // Called after every change, with the action that changed.
    std::function<void(TActionId id, bool on)> changed;

private:
    std::array<bool, kActionCount> enabled_{};
};

} // namespace vg57
