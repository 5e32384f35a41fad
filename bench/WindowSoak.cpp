#include "WindowSoak.h"

#include "ChartModel.h"
#include "DateTime.h"
#include "MainForm.h"
#include "SimProcess.h"
#include "SoakRss.h"

#include <QEventLoop>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace vg57;

void WindowSoak() {
    constexpr long kReadings = 200000;
    constexpr long kDay = 172800; // a day of readings at 0.5 s
    test::SimProcess sim;
    sim.Command("hold");
    // The archive on tmpfs: this run is about the chart's memory, and 200 000 fdatasync calls on
    // a shared disk would only make it long.
    if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    test::TempDir home;
    setenv("XDG_CONFIG_HOME", sim.ConfigHome().c_str(), 1);
    setenv("HOME", home.Path().c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");

    TVG57Form window; // never shown: the cycle, the chart model and the archive, not painting
    long ticks = 0;
    double rssAfterDay = 0;
    std::size_t pointsAfterDay = 0;
    QEventLoop loop;
    const double start = CurrentDateTime();
    window.Cycle().now = [&] { return MsOf(start) + ticks * 500; };
    // After the window's own handler of the same tick: the next reading is half a second later.
    // A tick that fired inside the running tick's wait did nothing (the gate is still busy).
    QObject::connect(&window.MeasureTimer, &QTimer::timeout, [&] {
        if (window.Gate().Busy()) return;
        if (++ticks == kDay) {
            rssAfterDay = bench::RssMiB();
            pointsAfterDay = window.Chart().Points().Size();
        }
        if (ticks == kReadings) loop.quit();
    });
    window.Link().PortConfigured = true; // COM3 is the simulator: no dialog
    window.MeasureTimer.setInterval(0);
    window.Cycle().ActionStartExecute();
    if (!window.Cycle().Measuring()) {
        std::fprintf(stderr, "the window's measuring did not start\n");
        std::exit(1);
    }
    loop.exec();
    const double rssEnd = bench::RssMiB();
    window.Cycle().ActionStopExecute();
    std::printf("window soak: %ld readings, %zu points after a day, %zu at the end\n", ticks,
                pointsAfterDay, window.Chart().Points().Size());
    std::printf("figure: soak_window_rss_growth_mib %.2f MiB\n", rssEnd - rssAfterDay);
    std::fflush(stdout);
}
