// What the serial tests share: the main window's port and framer settings, and a wait that
// handles the user-interface thread's events until a condition holds.
#pragma once

#include "ComPort.h"
#include "DataPacket.h"
#include "SerialMisc.h"

#include <functional>

namespace vg57::test {

// Pumps the calling thread's events until done() or the timeout; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
    TTickTimer t;
    StartTickTimer(t, timeoutMs / 55 + 1);
    while (!done() && !TickTimerExpired(t))
        if (YieldOnce() == 0) WaitForEventOrExpiry(t);
    return done();
}

// The main window's port: 9600 baud, odd parity, one stop bit, RS-485 with RTS dropped.
inline void MainWindowPort(TComPort& p, int comNumber) {
    p.SetComNumber(static_cast<std::uint16_t>(comNumber));
    p.SetBaud(9600);
    p.SetParity(pOdd);
    p.SetStopBits(1);
    p.SetRTS(false);
    p.SetRS485Mode(true);
}

// The main window's framer: 0x02 ... 0x0D, without the start and end bytes, enabled.
inline void MainWindowFramer(TDataPacket& f) {
    f.StartString = std::string(1, 0x02); // (a literal trips a false GCC 12 -Wrestrict)
    f.SetEndString("\r");
    f.SetEndCond(ecString);
    f.IgnoreCase = false;
    f.IncludeStrings = false;
    f.SetEnabled(true);
}

} // namespace vg57::test
