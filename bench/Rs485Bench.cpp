// When a program-driven RTS falls against the last stop bit of each request: the dispatcher's
// own writer thread, with a fake UART behind the device-call seam modelling the transmitter, its
// empty bit and the driver's tcdrain, and the bytes going through a pseudo-terminal.
#include "SerialDispatcher.h"

#include "FakeUart.h"
#include "Pty.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <time.h>
#include <vector>

using namespace vg57;
using test::FakeUart;

namespace {

constexpr int kRequests = 200;
const char kRequest[] = "\x02"
                        "0S3\r";

struct Result {
    std::vector<double> lateUs; // RTS back minus the modelled end of the last stop bit
    int early = 0;
    bool complete = true;
};

Result Run(std::uint32_t rate, bool lsr, FakeUart::DrainKind drain) {
    test::PtyPair pty;
    FakeUart::Board board;
    board.rs485 = false; // the driver can't switch: the program does
    board.lsr = lsr;
    board.drain = drain;
    board.rate = rate;
    board.bitsPerChar = 11; // 8O1, as the gauge's line
    FakeUart uart(board);
    TSerialDispatcher d;
    Result r;
    if (d.OpenDevice(pty.SlavePath(), rate, platform::kParityOdd, 8, 1, 4096, 4096, loDTR) != 0 ||
        d.SetRS485(true) != 0 || d.Rs485Direction() != TRs485Direction::UserToggle) {
        r.complete = false;
        return r;
    }
    for (int i = 0; i < kRequests; ++i) {
        d.QueueOutput(kRequest, 5);
        if (!uart.WaitSends(static_cast<std::size_t>(i) + 1, 5000)) {
            r.complete = false;
            break;
        }
        pty.Read(0);
        // A request now and then, as the gauge's poll, at no fixed phase against the kernel's tick.
        const timespec gap{0, 1000000 + (i * 337) % 3000 * 1000};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &gap, nullptr);
    }
    for (const auto& s : uart.Sends()) {
        if (s.rtsBackNs < s.endNs) ++r.early;
        r.lateUs.push_back(static_cast<double>(s.rtsBackNs - s.endNs) / 1000.0);
    }
    d.CloseDevice();
    return r;
}

// The machine's own share: how late a bare 100 us sleep of a thread like the writer wakes.
std::vector<double> BareWakeLateUs() {
    std::vector<double> late;
    for (int i = 0; i < 2000; ++i) {
        timespec start{}, end{};
        const timespec step{0, 100000};
        clock_gettime(CLOCK_MONOTONIC, &start);
        clock_nanosleep(CLOCK_MONOTONIC, 0, &step, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &end);
        late.push_back(static_cast<double>((end.tv_sec - start.tv_sec) * 1000000000LL +
                                           end.tv_nsec - start.tv_nsec - 100000) /
                       1000.0);
    }
    return late;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void Report(const char* name, std::uint32_t rate, const char* how, const Result& r) {
    if (!r.complete) std::printf("# %s at %u (%s): not every request was sent\n", name, rate, how);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("# %d requests of 5 bytes, 8O1; late and early against the last stop bit\n",
                kRequests);
    std::printf("figure: bare_wake_late_p99_us %.1f us\n", Percentile(BareWakeLateUs(), 0.99));
    for (std::uint32_t rate : {9600u, 115200u}) {
        const Result r = Run(rate, true, FakeUart::DrainKind::CorePolling);
        Report("late", rate, "tcdrain as the serial core polls", r);
        std::printf("figure: rts_drop_late_p50_us_%u %.1f us\n", rate, Percentile(r.lateUs, 0.5));
        std::printf("figure: rts_drop_late_p99_us_%u %.1f us\n", rate, Percentile(r.lateUs, 0.99));
        std::printf("figure: rts_drop_late_max_us_%u %.1f us\n", rate, Percentile(r.lateUs, 1.0));
    }
    for (std::uint32_t rate : {1200u, 9600u, 115200u}) {
        const Result atOnce = Run(rate, true, FakeUart::DrainKind::AtOnce);
        Report("early", rate, "tcdrain at once", atOnce);
        std::printf("figure: rts_drop_early_count_%u_drain_at_once %d requests\n", rate,
                    atOnce.complete ? atOnce.early : -1);
        const Result refused = Run(rate, false, FakeUart::DrainKind::AtOnce);
        Report("early", rate, "TIOCSERGETLSR refused", refused);
        std::printf("figure: rts_drop_early_count_%u_lsr_refused %d requests\n", rate,
                    refused.complete ? refused.early : -1);
        std::printf("figure: rts_drop_late_p99_us_%u_lsr_refused %.1f us\n", rate,
                    Percentile(refused.lateUs, 0.99));
    }
    return 0;
}
