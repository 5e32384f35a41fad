// Follows one gauge's archive files for a push: the archive is the durable record, and what
// leaves the machine is read back from it. A cursor beside each file ("<file>.pushed") keeps
// the byte offset pushed so far and where the reading of times stands there; it is synced after
// each acknowledged batch (written in place, into the older of two slots, so that a crash in
// the middle leaves the one before), so a restart or an outage resumes where the server last
// said yes, and memory holds the batches in flight at most, however long the server is away.
//
// Plain C++ and files; one follower per gauge stream, used from one thread.
#pragma once

#include "PushTime.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vg57 {

struct TPushCursor {
    std::uint64_t offset = 0;
    TFileTimeState time;
};

// The cursor's file beside an archive file.
std::string CursorPath(const std::string& archivePath);
// False when there is no cursor or it can't be read (then `cursor` is the start of the file).
bool ReadCursor(const std::string& archivePath, TPushCursor& cursor);
// Made anew: written to a new file, synced, renamed over the old one and the folder synced;
// false with the path and the system's words. A follower's commits after it write in place.
bool WriteCursor(const std::string& archivePath, const TPushCursor& cursor, std::string& problem);

// A batch of points in line protocol, and where each file's cursor goes once it is acknowledged.
struct TPushBatch {
    std::string body;
    std::size_t points = 0;
    std::size_t skippedLines = 0; // lines that are no reading, or a value the protocol can't carry
    std::map<std::string, TPushCursor> ends;
    bool Empty() const { return ends.empty(); }
};

class TArchiveFollower {
public:
    // `prefix` begins every point (PointPrefix). Times by `zone`'s rules.
    explicit TArchiveFollower(std::string prefix, QTimeZone zone = QTimeZone::systemTimeZone());

    // Live: the stream of one gauge in `folder`, files "yyyy_mm_dd hh_nn_ss<suffix>.txt" (the
    // suffix is empty for a logger of one gauge, " a5" when each gauge's files carry their
    // address). Followed: files with an unfinished cursor, files newer than the newest with a
    // cursor, and every file that appears from now on, each for as long as the follower lives
    // (a run's file may grow after a long silence, and names need not sort by when a file is
    // written to: the clock may go back). Older files without a cursor are left to a backfill.
    // False with the reason when the folder can't be read.
    bool FollowFolder(const std::string& folder, const std::string& suffix, std::string& problem);
    // Backfill: exactly this file, from its cursor.
    void AddFile(const std::string& path);

    // The next batch of at most `maxPoints` points (empty when nothing new), read on from where
    // the batch before ended: several may be out at once. Only whole lines are taken; a file's
    // last unfinished line waits for its end.
    bool Next(std::size_t maxPoints, TPushBatch& batch, std::string& problem);
    // The batch was acknowledged (or refused for good): its cursors are made durable. Batches
    // are committed in the order Next gave them.
    bool Commit(const TPushBatch& batch, std::string& problem);
    // The batches given since the last commit are forgotten: the next is read from the cursors.
    void Rewind();

    // Files followed, for tests and messages.
    std::vector<std::string> Files() const;

private:
    struct TFile {
        TPushCursor cursor; // acknowledged
        TPushCursor read;   // where the next batch begins
        std::int64_t nameLocalMs = 0;
        bool durable = false; // its cursor file exists
        bool inPlace = false; // ... with two slots, the newest of `sequence`
        std::uint64_t sequence = 0;
    };
    void Rescan();
    bool Track(const std::string& path, bool fromCursor);
    bool ReadFrom(const std::string& path, TFile& file, std::size_t maxPoints, TPushBatch& batch,
                  std::string& problem);

    std::string prefix_;
    TFileInstants instants_;
    std::string folder_, suffix_;
    bool live_ = false;
    std::int64_t folderMtimeNs_ = -1, scannedNs_ = 0; // the folder's time at the last scan
    std::map<std::string, TFile> files_;              // by path: names sort by time
    std::set<std::string> ignored_;                   // older files without a cursor
    std::vector<char> buffer_;                        // a chunk of a file, kept between reads
};

} // namespace vg57
