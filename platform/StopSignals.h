// SIGINT and SIGTERM as an event of the user-interface thread's event loop. The signal handler
// only writes to an eventfd (async-signal-safe); the handler given here runs from the event
// loop, possibly inside a wait, so it must only request things, never wait itself.
#pragma once

#include <functional>

namespace vg57::platform {

// Installs the handlers (once; a second call replaces `onSignal`). Needs the application
// object. Returns false with errno set when the signals could not be caught. With `hangUp`,
// SIGHUP reaches `onSignal` too instead of ending the process.
bool CatchStopSignals(std::function<void(int signal)> onSignal, bool hangUp = false);

} // namespace vg57::platform
