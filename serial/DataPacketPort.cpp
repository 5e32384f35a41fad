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
    QObject* ui = nullptr; // lives on the user-interface thread; deliveries run there

    // The installation on the open port's dispatcher. The user-interface thread's alone: the
    // data handler on the dispatch thread reads none of it, it carries copies of its own.
    TSerialDispatcher* dispatcher = nullptr;
    int handlerKey = 0;
    int timerHandle = -1;
    std::shared_ptr<platform::CallCancel> handovers; // cancelled when the collector is removed

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
    TSerialDispatcher* d = &c->port->Dispatcher();
    const int timer = d->AllocTimer();
    auto handovers = std::make_shared<platform::CallCancel>();
    c->dispatcher = d;
    c->timerHandle = timer;
    c->handovers = handovers;
    // On the dispatch thread, with only what it is given here and the manager (which has a lock
    // of its own): the collector's fields change under it when the port closes.
    c->handlerKey = d->RegisterDataHandler(
        [c, d, timer](int kind, std::uint32_t count, std::uint32_t) {
            if (kind == DataAvailable) {
                std::vector<std::uint8_t> bytes(count);
                // The oldest byte's time stands for all: a packet is never thought newer than
                // it is.
                const std::int64_t arrived = d->NextByteArrivalMs();
                if (d->ReadBlock(bytes.data(), count) == static_cast<int>(count))
                    c->manager.Receive(bytes.data(), count, arrived);
            } else if (kind == TimerFired && static_cast<int>(count) == timer) {
                c->manager.TimerExpired();
            }
        },
        c.get());
    QObject* ui = c->ui;
    c->manager.Install([d, timer](std::int32_t ticks) { d->ArmTimer(timer, ticks, ticks > 0); },
                       [ui, handovers](std::function<void()> events) {
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
                               handovers.get());
                       });
}

void Uninstall(TPortCollector& c) {
    // Packets not yet handed over are dropped with the rest of the collected bytes.
    if (c.handovers) c.handovers->Cancel();
    c.handovers.reset();
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

void TDataPacket::SetComPort(TComPort* port) {
    if (port == port_) return;
    if (port_) {
        TComPort* old = port_;
        SetManager(nullptr);
        port_ = nullptr;
        unbindPort_ = nullptr;
        Release(old);
    }
    if (port) {
        auto c = CollectorFor(port);
        port_ = port;
        unbindPort_ = [](TDataPacket& f) { f.SetComPort(nullptr); };
        SetManager(&c->manager);
    }
}

} // namespace vg57
