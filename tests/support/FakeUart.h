// A UART with an RS-485 transceiver behind the device-call seam, where no such hardware can
// stand: modem lines, the driver's RS-485 settings, a transmitter that empties once the modelled
// characters have left, and three kinds of tcdrain. The bytes themselves still go through the
// pseudo-terminal the port opened. Installs itself for the process while it lives.
#pragma once

#include "SerialDevice.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace vg57::test {

class FakeUart : public platform::DeviceFaults {
public:
    enum class DrainKind {
        Exact,       // returns when the last stop bit has left
        AtOnce,      // returns once the bytes reached the adapter (a USB driver)
        CorePolling, // looks at the transmitter once per 2-jiffy sleep at HZ=250
    };
    struct Board {
        bool rs485 = true;      // the driver has RS-485 settings (else ENOTTY)
        bool acceptsSet = true; // and takes new ones (else EINVAL)
        platform::Rs485Settings held;
        bool modemLines = true;
        bool lsr = true;       // TIOCSERGETLSR answered (else ENOTTY)
        bool lsrStale = false; // and always "empty" (an adapter's status older than the write)
        DrainKind drain = DrainKind::Exact;
        std::uint32_t rate = 9600;
        int bitsPerChar = 11; // 8O1
    };
    // One burst of sending: when its modelled last stop bit left, and when RTS left the level it
    // had at the write (-1 while it has not).
    struct Send {
        bool rtsAssertedWhileSending;
        std::int64_t endNs;
        std::int64_t rtsBackNs = -1;
    };

    explicit FakeUart(const Board& board);
    ~FakeUart() override;
    FakeUart(const FakeUart&) = delete;
    FakeUart& operator=(const FakeUart&) = delete;

    // Makes every call of that kind fail with err (0: succeed again).
    void Fail(platform::DeviceCall call, int err);
    std::vector<platform::Rs485Settings> Asked() const; // TIOCSRS485 requests taken, in order
    platform::Rs485Settings Held() const;
    bool RtsAsserted() const;
    std::vector<Send> Sends() const;
    // Waits (sleeping) until n sends have ended with RTS back, at most timeoutMs; false if not.
    bool WaitSends(std::size_t n, int timeoutMs) const;

    int Inject(platform::DeviceCall call) override;
    int ModemLine(int line, bool on) override;
    int ModemLines(int& lines) override;
    int GetRs485(platform::Rs485Settings& settings) override;
    int SetRs485(const platform::Rs485Settings& settings) override;
    int TransmitterEmpty(bool& empty) override;
    int Drain() override;
    void Wrote(std::size_t n) override;

private:
    std::int64_t TxEnd() const;

    Board board_;
    mutable std::mutex lock_;
    // Guarded by lock_.
    std::map<platform::DeviceCall, int> failures_;
    std::vector<platform::Rs485Settings> asked_;
    bool rts_ = false;
    std::int64_t txEndNs_ = 0;
    std::vector<Send> sends_;
};

} // namespace vg57::test
