// The command transaction's cost over the link beneath it: SendCommand("R1") round trips (the
// request framed and written, the reply framed and handed to the wait) against the dispatcher's
// own round trip, on the same pseudo-terminal with the same immediate responder, in rounds that
// alternate so that drift hits both alike; then the CPU the process burns while SendCommand
// waits out its time-out on a silent line, and a scan of the 16 addresses on that line.
#include "ComPort.h"
#include "DataPacket.h"
#include "EventLoop.h"
#include "GaugeLink.h"
#include "LineScan.h"
#include "Numbers.h"
#include "PtyRoundTrip.h"
#include "TempDir.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vg57;
using namespace vg57::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 20;
constexpr int kPerRound = 100; // 2000 exchanges of each kind
constexpr int kWarmUp = 20;

class NullView : public TGaugeView {
public:
    void SetUnitsText(const std::string&) override {}
    void SetPressureText(const std::string&) override {}
    void SetTestText(const std::string&) override {}
    void SetSetPointText(int, const std::string&) override {}
    void SetTransferIndicator(TIndicator) override {}
    void ShowMessage(const std::string&) override {}
    bool RunConnectionDialog() override { return true; }
};

// The main window's port and framer on COM<com>, its packets handed to a link.
struct Program {
    explicit Program(int com) {
        port.SetComNumber(static_cast<std::uint16_t>(com));
        port.SetBaud(9600);
        port.SetParity(pOdd);
        link.DevAddress = '0';
    }
    NullView view;
    TGaugeBus bus;
    TComPort& port = bus.Port();
    TGaugeLink link{bus, view};
};

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void Fail(const char* what, int i) {
    std::fprintf(stderr, "%s %d failed\n", what, i);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    const ResponderPty responder = StartResponder();
    QCoreApplication app(argc, argv);
    // The application object took the regional number format: figures are printed with '.'.
    vg57::platform::UseCNumbers();
    platform::InstallEventWatch();
    test::TempPortMap ports;
    ports.Link(7, responder.path);

    // The two paths open the same line in turn; each round times both.
    std::vector<double> exchange, dispatcher;
    for (int round = 0; round < kRounds; ++round) {
        {
            UiPath p(responder.path);
            for (int i = 0; i < kWarmUp; ++i)
                p.Exchange();
            for (int i = 0; i < kPerRound; ++i) {
                const auto start = Clock::now();
                if (!p.Exchange()) Fail("dispatcher exchange", i);
                dispatcher.push_back(Micros(Clock::now() - start));
            }
            p.Close();
        }
        {
            Program program(7);
            std::string reply;
            for (int i = 0; i < kWarmUp; ++i)
                program.link.SendCommand("R1", reply);
            for (int i = 0; i < kPerRound; ++i) {
                const auto start = Clock::now();
                if (!program.link.SendCommand("R1", reply) || reply != "0S1203")
                    Fail("SendCommand", i);
                exchange.push_back(Micros(Clock::now() - start));
            }
            program.port.SetOpen(false);
        }
    }
    const double exchangeMedian = Percentile(exchange, 0.5);
    const double dispatcherMedian = Percentile(dispatcher, 0.5);
    std::printf("SendCommand:     median %.1f us, p99 %.1f us (%zu exchanges)\n", exchangeMedian,
                Percentile(exchange, 0.99), exchange.size());
    std::printf("dispatcher path: median %.1f us, p99 %.1f us (%zu exchanges)\n", dispatcherMedian,
                Percentile(dispatcher, 0.99), dispatcher.size());
    std::printf("figure: exchange_roundtrip_median_us %.1f us\n", exchangeMedian);
    std::printf("figure: dispatcher_roundtrip_median_us %.1f us\n", dispatcherMedian);
    std::printf("figure: exchange_to_dispatcher_ratio %.2f x\n", exchangeMedian / dispatcherMedian);

    // A silent gauge: nobody answers on this line, so SendCommand waits out its 40 ticks.
    int silentMaster = -1, silentSlave = -1;
    char silentName[256] = {};
    if (openpty(&silentMaster, &silentSlave, silentName, nullptr, nullptr) != 0) return 1;
    ports.Link(8, silentName);
    {
        Program program(8);
        std::string reply;
        program.port.SetOpen(true); // the open itself is not part of the wait
        const auto cpu0 = CpuMicros();
        const auto t0 = Clock::now();
        const bool answered = program.link.SendCommand("R1", reply);
        const double wall = Micros(Clock::now() - t0);
        const double cpu = 100.0 * static_cast<double>(CpuMicros() - cpu0) / wall;
        program.port.SetOpen(false);
        std::printf("silent gauge: %s after %.0f ms\n", answered ? "answered?!" : "timed out",
                    wall / 1000.0);
        std::printf("figure: exchange_silent_wait_cpu %.3f %%\n", cpu);
    }
    {
        // "Найти приборы" with nothing on the line: every address waits out its time-out.
        Program program(8);
        TLineScan scan(program.bus);
        const TPortLine line{8, 9600, pOdd, 1, TRtsOnSend::Driver, false};
        const auto t0 = Clock::now();
        const auto result = scan.Run(line, "COM8", "0123456789ABCDEF");
        const double seconds = Micros(Clock::now() - t0) / 1e6;
        if (!result.answered.empty() || result.asked.size() != 16 || !result.error.empty()) {
            std::fprintf(stderr, "line scan: asked %s, answered %s: %s\n", result.asked.c_str(),
                         result.answered.c_str(), result.error.c_str());
            return 1;
        }
        std::printf("figure: line_scan_silent_s %.1f s\n", seconds);
    }
    close(silentSlave);
    close(silentMaster);
    close(responder.slave);
    kill(responder.child, SIGTERM);
    waitpid(responder.child, nullptr, 0);
    return 0;
}
