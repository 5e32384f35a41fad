// The measurement archive being written: one file per run, created at the run's first line and
// named after that moment, one line per reading, each on the disk before the call returns.
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

    // Start: the run's first line creates a new file.
    void Reset();
    // One reading taken at `now` (a local date-time): its time of day, the pressure in the
    // general number format and the unit code (may be empty). Written, then fdatasync'd.
    // Dropped after Close() until the next Reset().
    void WriteArchiveLine(double now, long double pressure, std::string_view unitCode);
    // Stop: closes the file.
    void Close();

    // A file has been created in this run (stays set after Close until Reset).
    bool ArchiveOpen() const { return !path_.empty(); }
    // This run's file, empty before it is created.
    const std::string& Path() const { return path_; }
    // Why the last line did not reach the disk; empty once a line did. Kept after Close so
    // that a run that lost lines says so until the next Start.
    const std::string& Problem() const { return problem_; }
    // Called when Path() or Problem() changes.
    std::function<void()> onStatusChanged;

private:
    bool OpenFile(const std::string& path);
    bool WriteAll(const std::string& bytes);
    void CloseFile();
    void SetStatus(std::string path, std::string problem);

    TArchiveSystem& system_;
    std::string folder_;
    std::string path_;
    std::string problem_;
    int fd_ = -1;
    bool running_ = true;       // false from Close until Reset: lines are dropped
    bool folderSynced_ = false; // the folder entry of the open file is durable
    // A write failed, maybe half-way, or the file ends inside a line: start the next on a new
    // line.
    bool breakLine_ = false;
};

} // namespace vg57
