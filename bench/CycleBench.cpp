// The CPU that measuring costs: the whole program (window offscreen, chart, panel, archive with
// fdatasync) measures against the gauge simulator at the default 0.5 s interval, once with the
// gauge answering and once with it silent after Start's reads, so that every tick times out.
// The CPU of all the program's threads is printed in % of one core.
#include "CycleBench.h"

#include "ConnParamsForm.h"
#include "MainForm.h"
#include "Numbers.h"
#include "SerialMisc.h"
#include "SimProcess.h"

#include <QAction>
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace vg57;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u); // every thread of this process: the serial link's too
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

int Seconds() {
    const char* s = std::getenv("VG57_BENCH_MEASURE_SECONDS");
    return s ? std::max(1, std::atoi(s)) : 60;
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_measure";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (QApplication::instance()) return static_cast<QApplication*>(nullptr);
        auto* made = new QApplication(argc, argv);
        platform::UseCNumbers(); // figures are printed with '.' whatever the regional settings
        return made;
    }();
    return app ? *app : *static_cast<QApplication*>(QApplication::instance());
}

// Runs the window's event loop for `seconds` (nothing else of the benchmark runs meanwhile).
void RunFor(int seconds) {
    TTickTimer t;
    StartTickTimer(t, seconds * 1000 / 55);
    while (!TickTimerExpired(t))
        if (YieldOnce() == 0) WaitForEventOrExpiry(t);
}

void Measure(const char* figure, bool silent) {
    App();
    test::SimProcess sim;
    sim.Command("hold");
    test::TempDir home;
    setenv("XDG_CONFIG_HOME", sim.ConfigHome().c_str(), 1);
    setenv("HOME", home.Path().c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
    {
        TVG57Form window;
        window.connectionExec = [](TSetupCommForm&) { return int(QDialog::Accepted); };
        window.show();
        window.Action(TActionId::Start)->trigger();
        if (!window.Cycle().Measuring()) {
            std::fprintf(stderr, "measuring did not start\n");
            std::exit(1);
        }
        if (silent) sim.Command("silent on");
        RunFor(2); // settle: the first ticks, the first file
        const std::size_t pointsBefore = window.Chart().Points().Size();
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        RunFor(Seconds());
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = CpuSeconds() - cpu0;
        std::printf("ticks in the window: %zu points added\n",
                    window.Chart().Points().Size() - pointsBefore);
        std::printf("figure: %s %.3f %%\n", figure, 100.0 * cpu / wall);
        std::fflush(stdout);
        window.Action(TActionId::Stop)->trigger();
        RunFor(silent ? 3 : 1);
    }
}

} // namespace

void MeasuringCpu() {
    Measure("measuring_cpu", false);
}

void SilentCpu() {
    Measure("silent_cpu", true);
}
