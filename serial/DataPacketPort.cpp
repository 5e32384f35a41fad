// Binds packet collectors to serial ports: one collector per port, installed on the port's
// dispatcher while the port is open, delivering on the user-interface thread.
#include "ComPort.h"
#include "CrossThreadCall.h"
#include "DataPacket.h"
#include "EventLoop.h"

#include <QObject>
#include <QThread>

#include <map>
#include <memory>

namespace vg57 {

namespace {

// One port's collector and its place on the port and the dispatcher. Shared with the
// dispatcher's handler, so that it outlives a notification still running when it is let go.
struct TPortCollector {
    TComPort* port = nullptr;
    TDataPacketManager manager;
    TSerialDispatcher* dispatcher = nullptr;
    int handlerKey = 0;
    int timerHandle = -1;
    QObject* ui = nullptr; // lives on the user-interface thread; deliveries run there

    ~TPortCollector() {
        if (!ui) return;
        if (ui->thread() == QThread::currentThread())
            delete ui;
        else
            ui->deleteLater();
    }
};

// The collectors of all ports, on the user-interface thread.
std::map<TComPort*, std::shared_ptr<TPortCollector>>& Collectors() {
    static std::map<TComPort*, std::shared_ptr<TPortCollector>> list;
    return list;
}

void Install(const std::shared_ptr<TPortCollector>& c) {
    auto& d = c->port->Dispatcher();
    c->dispatcher = &d;
    std::weak_ptr<TPortCollector> weak = c;
    c->handlerKey = d.RegisterDataHandler(
        [c](int kind, std::uint32_t count, std::uint32_t) {
            if (kind == DataAvailable) {
                std::vector<std::uint8_t> bytes(count);
                if (c->dispatcher->ReadBlock(bytes.data(), count) == static_cast<int>(count))
                    c->manager.Receive(bytes.data(), count);
            } else if (kind == TimerFired && static_cast<int>(count) == c->timerHandle) {
                c->manager.TimerExpired();
            }
        },
        c.get());
    c->timerHandle = d.AllocTimer();
    TSerialDispatcher* dp = &d;
    const int handle = c->timerHandle;
    QObject* ui = c->ui;
    c->manager.Install([dp, handle](std::int32_t ticks) { dp->ArmTimer(handle, ticks, ticks > 0); },
                       [dp, ui](std::function<void()> events) {
                           // The dispatch thread waits until the handlers have run; an exception
                           // they let escape is shown and goes no further.
                           platform::CallBlocking(
                               ui,
                               [events = std::move(events)] {
                                   try {
                                       events();
                                   } catch (...) {
                                       platform::DisplayException(std::current_exception());
                                   }
                               },
                               &dp->HandoverCancel());
                       });
}

void Uninstall(TPortCollector& c) {
    c.manager.Uninstall();
    if (!c.dispatcher) return;
    c.dispatcher->UnregisterDataHandler(c.handlerKey);
    if (c.timerHandle >= 0) c.dispatcher->FreeTimer(c.timerHandle);
    c.timerHandle = -1;
    c.dispatcher = nullptr;
}

std::shared_ptr<TPortCollector> CollectorFor(TComPort* port) {
    auto& list = Collectors();
    if (auto it = list.find(port); it != list.end()) return it->second;
    auto c = std::make_shared<TPortCollector>();
    c->port = port;
    c->ui = new QObject;
    c->manager.onError = platform::DisplayException;
    list[port] = c;
    TPortCollector* raw = c.get();
    port->RegisterPortUser(
        [raw](TComPort& p, TPortEvent e) {
            auto& all = Collectors();
            auto it = all.find(&p);
            if (it == all.end() || it->second.get() != raw) return;
            auto keep = it->second;
            switch (e) {
            case portOpened:
                Install(keep);
                break;
            case portClosing:
            case portClosed:
                Uninstall(*keep);
                break;
            case portDestroying:
                // The port goes away: its framers are unbound from it.
                for (TDataPacket* f : std::vector<TDataPacket*>(keep->manager.Framers()))
                    f->SetComPort(nullptr);
                break;
            }
        },
        raw);
    // A collector created while its port is already open installs itself at once.
    if (port->Open() && port->CurrentDispatcher()) Install(c);
    return c;
}

void Release(TComPort* port) {
    auto& list = Collectors();
    auto it = list.find(port);
    if (it == list.end() || !it->second->manager.Framers().empty()) return;
    auto c = it->second;
    list.erase(it);
    port->UnregisterPortUser(c.get());
    Uninstall(*c);
    // A notification still running keeps the collector alive through its handler's copy.
}

} // namespace

struct TDataPacketPortHook {
    TDataPacketPortHook() {
        TDataPacket::sReleasePort = [](TDataPacket& f) { f.SetComPort(nullptr); };
    }
};
static TDataPacketPortHook gHook;

void TDataPacket::SetComPort(TComPort* port) {
    if (port == port_) return;
    if (port_) {
        TComPort* old = port_;
        SetManager(nullptr);
        port_ = nullptr;
        Release(old);
    }
    if (port) {
        auto c = CollectorFor(port);
        port_ = port;
        SetManager(&c->manager);
    }
}

} // namespace vg57
