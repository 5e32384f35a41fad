// The device threads of a serial dispatcher: reader, writer and line-status waiter. Each blocks
// in poll() on its descriptor and the dispatcher's stop eventfd.
#pragma once

#include <memory>

namespace vg57 {

class TDispatcherThread;
class TSerialDispatcher;

std::unique_ptr<TDispatcherThread> MakeReadThread(TSerialDispatcher& d);
std::unique_ptr<TDispatcherThread> MakeWriteThread(TSerialDispatcher& d);
std::unique_ptr<TDispatcherThread> MakeStatusThread(TSerialDispatcher& d);

} // namespace vg57
