// The measurement archive being written: one file per run, created at the run's first line and
// named after that moment, one line per reading, each on the disk before the call returns.
//
// A line keeps no date: a reader puts it on the day nearest the line before. So a reading due
// more than 12 hours after the last line written starts a new file named after it, as a new run
// would; and so does a reading whose file was removed, renamed or replaced meanwhile, which is
// said in Notice() until Stop.
//
// Nothing here is lost quietly: a file of the same name is appended to, never truncated; a
// failed create or write is reported through Problem() with the path and the system's words,
// and the next line tries again (creating the file, or reopening it for appending). No write
// goes through a handle that failed to open or was closed.
#pragma once

#include "ArchiveSystem.h"

#include <functional>
#include <string>
#include <string_view>

namespace vg57 {

class TArchiveWriter {
public:
    explicit TArchiveWriter(TArchiveSystem& system = SystemArchiveCalls());
    ~TArchiveWriter();
    TArchiveWriter(const TArchiveWriter&) = delete;
    TArchiveWriter& operator=(const TArchiveWriter&) = delete;

    // Where new files go ("" is the working directory); the next file created uses it.
    void SetFolder(std::string folder);
    const std::string& Folder() const { return folder_; }
    // The gauge's address in new files' names, for one of several gauges on a line; 0: none.
    void SetNameAddress(char address) { nameAddress_ = address; }

    // Start: the run's first line creates a new file.
    void Reset();
    // One reading taken at `now` (a local date-time): its time of day, the pressure in the
    // general number format and the unit code (may be empty). Written, then fdatasync'd.
    // Dropped after Close() until the next Reset().
    void WriteArchiveLine(double now, long double pressure, std::string_view unitCode);
    // Stop: closes the file.
    void Close();
    // Lets go of the file and goes on: the next line opens it again by name (after log
    // rotation moved it, a new file of that name).
    void ReopenFile() { CloseFile(); }

    // A file has been created in this run (stays set after Close until Reset).
    bool ArchiveOpen() const { return !path_.empty(); }
    // This run's file, empty before it is created.
    const std::string& Path() const { return path_; }
    // Why the last line did not reach the disk; empty once a line did. Kept after Close so
    // that a run that lost lines says so until the next Start.
    const std::string& Problem() const { return problem_; }
    // The run's file was removed or moved away and a new one begun; empty otherwise, and again
    // after Stop.
    std::string Notice() const;
    // Called when Path(), Problem() or Notice() changes.
    std::function<void()> onStatusChanged;
    // The longest gap, in days, between two lines of one file.
    static constexpr double kLongestGapDays = 0.5;

private:
    bool OpenFile(const std::string& path);
    bool WriteAll(const std::string& bytes);
    void CloseFile();
    void SetStatus(std::string path, std::string problem);
    // Before a line at `now`: lets go of a file the line must not go to, so that it starts one.
    void LeaveFileIfDone(double now);

    TArchiveSystem& system_;
    std::string folder_;
    char nameAddress_ = 0;
    std::string path_;
    std::string problem_;
    std::string leftPath_; // the file that went away in this run (for Notice)
    double lastLine_ = 0;  // when the last line written to path_ was due; 0: none yet
    int fd_ = -1;
    bool running_ = true;       // false from Close until Reset: lines are dropped
    bool folderSynced_ = false; // the folder entry of the open file is durable
    // A write failed, maybe half-way, or the file ends inside a line: start the next on a new
    // line.
    bool breakLine_ = false;
};

} // namespace vg57
