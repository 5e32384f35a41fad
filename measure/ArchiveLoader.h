// Loading archive files for viewing (the menu command "Загрузить из файла"): one or several
// files read into one time-ordered set of readings, on any thread, and that set handed to the
// chart in one step.
#pragma once

#include "ArchiveReader.h"

#include <QTimeZone>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vg57 {

class TChartModel;

// More readings than this are refused: at 17 bytes each in the loader and 16 in the chart, more
// would not fit the memory of an ordinary desktop.
constexpr std::size_t kMaxLoadedReadings = 50'000'000;

struct TLoadRequest {
    std::vector<std::string> paths;
    std::size_t maxReadings = kMaxLoadedReadings;
    // The rules that turn the local times of dated files into instants.
    QTimeZone zone = QTimeZone::systemTimeZone();
};

// One gauge's readings of a load of files of several gauges.
struct TLoadedGauge {
    int address = -1;
    TArchiveData data;
};

// What a load ends with. `problem` empty: `data` holds the readings in time order (equal times
// in file order), or, for files of several gauges of a run, `gauges` holds them per gauge in
// order of address and `data` is empty. Otherwise `problem` is the message for a box and
// `detail` its detail, and `data` is empty.
struct TLoadResult {
    TArchiveData data;
    std::vector<TLoadedGauge> gauges;
    bool cancelled = false;
    std::string problem, detail;
    // Files without a date in their name (on day 0), and files with one.
    std::size_t undatedFiles = 0, datedFiles = 0;
    QTimeZone zone; // the request's
};

// Where a running load stands, for a progress display on another thread.
struct TLoadProgress {
    std::atomic<std::uint64_t> bytesRead{0}, bytesTotal{0};
    std::atomic<bool> cancel{false}; // set by anyone: the load stops at its next chunk
};

// Reads, checks and orders the files: a file name "yyyy_mm_dd hh_nn_ss.txt" puts the file's
// first reading on that date, and its readings become instants (InstantDays) by the zone's rules
// in file order; any other file stays on day 0, in local time. Names that carry gauge addresses
// ("yyyy_mm_dd hh_nn_ss a5.txt") of more than one gauge are read per gauge (a file without one
// counts as a gauge of its own), each gauge's files checked on their own. Refused, with nothing
// read kept: a file that cannot be read, a file without a readable line, files that overlap in
// local time (two files of one run split by a clock set back), more than maxReadings readings. Peak
// memory is about 29 bytes per reading, also when sorting.
TLoadResult LoadArchives(const TLoadRequest& request, TLoadProgress& progress);

// Reads one whole archive file on day 0. Returns empty, or "<path>: <the system's words>" when
// the file cannot be opened or read; `data` is then left as it was.
std::string ReadArchiveFile(const std::string& path, TArchiveData& data);

// The chart's loaded view from loaded readings (times, pressures, unit codes), moved in without
// a copy: the series replaced, the time axis set to their span. LoadedView is the caller's.
void ShowLoadedReadings(TChartModel& chart, TArchiveData&& data,
                        const QTimeZone& zone = QTimeZone::systemTimeZone());
// The same for several gauges: one curve each, the time axis over all of them.
void ShowLoadedGauges(TChartModel& chart, std::vector<TLoadedGauge>&& gauges,
                      const QTimeZone& zone = QTimeZone::systemTimeZone());
// The readings a load holds, over every gauge.
std::size_t LoadedReadings(const TLoadResult& result);
std::size_t LoadedLinesSkipped(const TLoadResult& result);

// A whole load of one file on the calling thread: LoadArchives, then ShowLoadedReadings. Returns
// empty, or the problem's detail ("<path>: <the system's words>") or else the problem itself;
// the chart is then untouched.
std::string LoadArchiveFile(const std::string& path, TChartModel& chart);

} // namespace vg57
