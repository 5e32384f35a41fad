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

// What a load ends with. `problem` empty: `data` holds the readings in time order (equal times
// in file order). Otherwise `problem` is the message for a box and `detail` its detail, and
// `data` is empty.
struct TLoadResult {
    TArchiveData data;
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
// first reading on that date, and its readings become instants (InstantDays) by the zone's
// rules in file order; any other file stays on day 0, in local time. Refused, with nothing read
// kept: a file that cannot be read, a file without a readable line, files that overlap in local
// time (two files of one run split by a clock set back), more than maxReadings readings. Peak
// memory is about 29 bytes per reading, also when sorting.
TLoadResult LoadArchives(const TLoadRequest& request, TLoadProgress& progress);

// Reads one whole archive file on day 0. Returns empty, or "<path>: <the system's words>" when
// the file cannot be opened or read; `data` is then left as it was.
std::string ReadArchiveFile(const std::string& path, TArchiveData& data);

// The chart's loaded view from loaded readings (times, pressures, unit codes), moved in without
// a copy: the series replaced, the time axis set to their span, the labels showing the instants
// in the zone's local time. LoadedView is the caller's.
void ShowLoadedReadings(TChartModel& chart, TArchiveData&& data,
                        const QTimeZone& zone = QTimeZone::systemTimeZone());

// A whole load of one file on the calling thread: LoadArchives, then ShowLoadedReadings. Returns
// empty, or the problem's detail ("<path>: <the system's words>") or else the problem itself;
// the chart is then untouched.
std::string LoadArchiveFile(const std::string& path, TChartModel& chart);

} // namespace vg57
