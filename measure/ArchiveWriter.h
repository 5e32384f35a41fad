// The measurement archive being written: one file per run, created at the run's first line and
// named after that moment, one line per reading, each on the disk before the call returns.
//
// A line keeps no date: a reader puts it on the day nearest the line before. So a reading due
// more than 12 hours after the last line written starts a new file named after it, as a new run
// would. Within a file the times never go back (but across midnight): a clock set back by more
// than a second (summer time ending, a time server's step) starts a new file named after the
// new time too, and so does a reading whose file was deleted meanwhile. A file moved away with
// its folder, or renamed, is still the run's file: the lines go on through the open handle.
// Each of these but the gap is said in Notice() until Stop.
//
// Nothing here is lost quietly: a file of the same name is appended to, never truncated; a
// failed create or write is reported through Problem() with the path and the system's words,
// and the next line tries again (creating the file, or reopening it for appending). A write
// that fails part-way is cut back off the file, so that it ends in whole lines. A folder that
// went missing is made again before a new file is given up. No write goes through a handle that
// failed to open or was closed.
#pragma once

#include "ArchiveSystem.h"

#include <cstdint>
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
    // One reading taken at `now` (a local date-time in milliseconds, MsOf): its time of day,
    // the pressure in the general number format and the unit code (may be empty). Written,
    // then fdatasync'd. Dropped after Close() until the next Reset().
    void WriteArchiveLine(std::int64_t now, long double pressure, std::string_view unitCode);
    // Stop: closes the file.
    void Close();
    // Lets go of the file and goes on: the next line opens it again by name (after log
    // rotation moved it, a new file of that name).
    void ReopenFile();

    // A file has been created in this run (stays set after Close until Reset).
    bool ArchiveOpen() const { return !path_.empty(); }
    // This run's file, empty before it is created.
    const std::string& Path() const { return path_; }
    // Why the last line did not reach the disk; empty once a line did. Kept after Close so
    // that a run that lost lines says so until the next Start.
    const std::string& Problem() const { return problem_; }
    // What became of the run's file: deleted and a new one begun, moved and still written, or a
    // new one begun because the clock went back. Empty otherwise, and again after Stop.
    std::string Notice() const;
    // Called when Path(), Problem() or Notice() changes.
    std::function<void()> onStatusChanged;
    // Called after each line written and synced (a push following the archive reads it then).
    std::function<void()> onLineWritten;
    // The longest gap between two lines of one file, and the furthest a line may go back.
    static constexpr std::int64_t kLongestGapMs = 12 * 3'600'000;
    static constexpr std::int64_t kClockBackToleranceMs = 1000;

private:
    bool OpenFile(const std::string& path);
    int OpenRemakingFolder(const std::string& path);
    bool WriteAll(const std::string& bytes);
    // Writes the line whole or not at all (as far as the file system lets it be cut back).
    bool WriteLine(const std::string& line);
    void CloseFile();
    void SetStatus(std::string path, std::string problem);
    void SetNotice(std::string notice, bool namesNewFile);
    // Before a line at `now`: lets go of a file the line must not go to, so that it starts one.
    void LeaveFileIfDone(std::int64_t now);
    // The open file is no longer at path_: follows it when it was moved. False when deleted.
    bool FollowMovedFile();

    TArchiveSystem& system_;
    std::string folder_;
    char nameAddress_ = 0;
    std::string path_;
    std::string problem_;
    std::string notice_;           // see Notice()
    bool noticeNamesFile_ = false; // the notice ends with the new file's path
    std::int64_t lastLine_ = 0;    // when the last line written to path_ was due
    bool haveLastLine_ = false;
    int fd_ = -1;
    bool running_ = true;       // false from Close until Reset: lines are dropped
    bool folderSynced_ = false; // the folder entry of the open file is durable
    bool stillMoved_ = false;   // the open file was moved where its name can't be found
    std::string createdPath_;   // the name the run gave its file, which a reopen takes again
    // A write failed, maybe half-way, or the file ends inside a line: start the next on a new
    // line.
    bool breakLine_ = false;
};

} // namespace vg57
