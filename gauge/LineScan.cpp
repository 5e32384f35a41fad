// The scan of a line's addresses, and the port put back as it was found.
#include "LineScan.h"

#include "SerialExcept.h"

#include <algorithm>

namespace vg57 {

namespace {

// From the gauge asked (the bus drops other addresses' replies and our own echoes) and plain
// text: line noise that happens to close a frame is no gauge.
bool WellFormedFrom(char address, const std::string& reply) {
    return !reply.empty() && reply[0] == address &&
           std::all_of(reply.begin(), reply.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace

TPortLine LineOf(const TComPort& port) {
    return {port.ComNumber(), port.Baud(),      port.Parity(),
            port.StopBits(),  port.RtsOnSend(), port.Open()};
}

void SetLine(TComPort& port, const TPortLine& line) {
    const TPortLine now = LineOf(port);
    const bool same = now.number == line.number && now.baud == line.baud &&
                      now.parity == line.parity && now.stopBits == line.stopBits &&
                      now.rtsOnSend == line.rtsOnSend;
    if (!same || !line.open) port.SetOpen(false);
    port.SetComNumber(line.number);
    port.SetBaud(line.baud);
    port.SetParity(line.parity);
    port.SetStopBits(line.stopBits);
    port.SetRtsOnSend(line.rtsOnSend);
    if (line.open) port.SetOpen(true);
}

std::string ErrorReason(const std::exception& e) {
    std::string detail;
    if (const auto* s = dynamic_cast<const ESerialException*>(&e)) detail = s->Detail();
    if (const auto* io = dynamic_cast<const EInOutError*>(&e)) detail = io->Detail();
    return detail.empty() ? e.what() : std::string(e.what()) + ": " + detail;
}

TLineScan::TResult TLineScan::Run(const TPortLine& line, const std::string& portName,
                                  const std::string& addresses) {
    TResult result;
    if (running_) {
        result.error = "Поиск приборов уже идёт.";
        return result;
    }
    if (bus_.GaugeBusy || bus_.TransferState == tsWaiting) {
        result.error = "Линия занята обменом с прибором: повторите поиск позже.";
        return result;
    }
    running_ = true;
    cancelled_ = false;
    bus_.GaugeBusy = true; // no other command sequence starts inside our waits
    struct TEnd {
        TLineScan& scan;
        ~TEnd() {
            scan.bus_.GaugeBusy = false;
            scan.bus_.ResumeExchanges(kOwner);
            scan.running_ = false;
        }
    } end{*this};

    TComPort& port = bus_.Port();
    TPortLine before = LineOf(port);
    // A port whose adapter dropped out carries nothing until opened anew: it was as good as
    // closed, and is left closed.
    if (before.open && port.DeviceLost()) before.open = false;
    TPortLine scanning = line;
    scanning.open = true;
    try {
        SetLine(port, scanning);
    } catch (const std::exception& e) {
        result.error = "Невозможно открыть порт " + portName + ": " + ErrorReason(e);
    }
    if (result.error.empty()) {
        const int total = static_cast<int>(addresses.size());
        for (const char address : addresses) {
            // Cut by us, by Stop or by the program closing: the wait just cut told nothing.
            if (cancelled_ || bus_.Cut()) break;
            std::string reply;
            bool answered = false;
            try {
                answered = bus_.Exchange(address, kFirstContactCommand, reply);
            } catch (const std::exception& e) {
                result.error = "Обмен через порт " + portName + " прерван: " + ErrorReason(e);
                break;
            }
            if (cancelled_ || bus_.Cut()) break;
            // A pulled adapter would cost every address left its time-out, and tell nothing.
            if (port.DeviceLost()) {
                result.error = "Адаптер порта " + portName + " отключён";
                if (const std::string why = port.DeviceLossText(); !why.empty())
                    result.error += ": " + why;
                break;
            }
            result.asked += address;
            if (answered && WellFormedFrom(address, reply)) result.answered += address;
            if (onProgress)
                onProgress(static_cast<int>(result.asked.size()), total, address,
                           result.answered.find(address) != std::string::npos);
        }
    }
    result.cancelled = result.error.empty() && result.asked.size() < addresses.size();
    try {
        SetLine(port, before);
    } catch (const std::exception& e) {
        if (!result.error.empty()) result.error += "\n";
        result.error += "Прежний порт COM" + std::to_string(before.number) +
                        " открыть снова не удалось: " + ErrorReason(e);
    }
    return result;
}

void TLineScan::Cancel() {
    if (!running_ || cancelled_) return;
    cancelled_ = true;
    bus_.CancelExchanges(kOwner);
}

} // namespace vg57
