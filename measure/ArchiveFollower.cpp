#include "ArchiveFollower.h"

#include "ArchiveSystem.h"
#include "LineProtocol.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vg57 {

namespace {

constexpr std::size_t kChunk = 1 << 20;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The date-time a file's name carries, with or without a gauge's address (" a5") before ".txt".
std::optional<double> NameDateTime(const std::string& path) {
    std::string name = NameOf(path);
    if (name.size() == 26 && name.compare(19, 2, " a") == 0) name.erase(19, 3);
    return ArchiveNameDateTime(name);
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

std::string Problem(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + ErrnoText(err);
}

} // namespace

std::string CursorPath(const std::string& archivePath) {
    return archivePath + ".pushed";
}

namespace {

// A cursor file holds two slots, one a line of kSlotSize bytes each: "offset dayOffset baseDay
// previousLocalMs previousInstantMs havePrevious sequence check", padded with spaces before its
// LF. A commit overwrites the older slot in place and syncs it, so a write torn by a crash spoils
// only the slot it wrote: the other still holds the cursor before. The check (FNV-1a of the
// fields) tells a torn slot; the higher sequence of the sound ones is the cursor. Made anew (a
// new file, or the one-line form of earlier versions) through a new file renamed over the old.
constexpr std::size_t kSlotSize = 160;

std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return h;
}

std::string SlotText(const TPushCursor& cursor, std::uint64_t sequence) {
    char text[kSlotSize];
    int n = std::snprintf(
        text, sizeof text, "%llu %lld %lld %lld %lld %d %llu",
        static_cast<unsigned long long>(cursor.offset),
        static_cast<long long>(cursor.time.dayOffset), static_cast<long long>(cursor.time.baseDay),
        static_cast<long long>(cursor.time.previousLocalMs),
        static_cast<long long>(cursor.time.previousInstantMs), cursor.time.havePrevious ? 1 : 0,
        static_cast<unsigned long long>(sequence));
    const std::uint64_t check = Fnv1a(std::string_view(text, static_cast<std::size_t>(n)));
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), " %016llx",
                       static_cast<unsigned long long>(check));
    std::string out(text, static_cast<std::size_t>(n));
    out.resize(kSlotSize - 1, ' ');
    out += '\n';
    return out;
}

// The first line of `text` in the one-line form (no sequence, no check) when `oneLine`.
bool ParseSlot(const std::string& text, bool oneLine, TPushCursor& cursor,
               std::uint64_t& sequence) {
    unsigned long long offset = 0, seq = 0, check = 0;
    long long day = 0, base = 0, local = 0, instant = 0;
    int have = 0, checked = 0;
    if (oneLine) {
        if (std::sscanf(text.c_str(), "%llu %lld %lld %lld %lld %d", &offset, &day, &base, &local,
                        &instant, &have) != 6)
            return false;
    } else if (std::sscanf(text.c_str(), "%llu %lld %lld %lld %lld %d %llu%n %llx", &offset, &day,
                           &base, &local, &instant, &have, &seq, &checked, &check) != 8 ||
               Fnv1a(std::string_view(text).substr(0, static_cast<std::size_t>(checked))) !=
                   check) {
        return false;
    }
    cursor.offset = offset;
    cursor.time = {day, base, local, instant, have != 0};
    sequence = seq;
    return true;
}

// The cursor and the sequence of its slot; `inPlace`: the file has the two slots to write into.
bool ReadCursorFile(const std::string& archivePath, TPushCursor& cursor, std::uint64_t& sequence,
                    bool& inPlace) {
    cursor = {};
    sequence = 0;
    inPlace = false;
    const int fd = ::open(CursorPath(archivePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char bytes[2 * kSlotSize + 1];
    const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
    ::close(fd);
    if (n <= 0) return false;
    if (static_cast<std::size_t>(n) != 2 * kSlotSize)
        return ParseSlot(std::string(bytes, static_cast<std::size_t>(n)), true, cursor, sequence);
    bool found = false;
    for (std::size_t slot = 0; slot < 2; ++slot) {
        TPushCursor c;
        std::uint64_t seq = 0;
        if (ParseSlot(std::string(bytes + slot * kSlotSize, kSlotSize), false, c, seq) &&
            (!found || seq > sequence)) {
            cursor = c;
            sequence = seq;
            found = true;
        }
    }
    inPlace = found;
    return found;
}

// The next sequence into the older slot, synced. `missing`: the file is gone (to be made anew).
bool WriteCursorInPlace(const std::string& archivePath, const TPushCursor& cursor,
                        std::uint64_t sequence, bool& missing, std::string& problem) {
    const std::string path = CursorPath(archivePath);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    missing = fd < 0 && errno == ENOENT;
    if (fd < 0) return problem = Problem("Не удаётся записать курсор", path, errno), false;
    const std::string text = SlotText(cursor, sequence);
    const bool written =
        ::pwrite(fd, text.data(), kSlotSize, static_cast<off_t>(sequence % 2 * kSlotSize)) ==
            static_cast<ssize_t>(kSlotSize) &&
        ::fdatasync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!written) return problem = Problem("Не удаётся записать курсор", path, err), false;
    return true;
}

} // namespace

bool ReadCursor(const std::string& archivePath, TPushCursor& cursor) {
    std::uint64_t sequence = 0;
    bool inPlace = false;
    return ReadCursorFile(archivePath, cursor, sequence, inPlace);
}

bool WriteCursor(const std::string& archivePath, const TPushCursor& cursor, std::string& problem) {
    const std::string path = CursorPath(archivePath), temporary = path + ".new";
    // Both slots: the next commit writes over the one of sequence 0.
    const std::string text = SlotText(cursor, 0) + SlotText(cursor, 1);
    // A new cursor's name must be durable; a replaced one lost in a crash leaves the one before,
    // which only sends a batch again (the server keeps one point per series and time).
    const bool isNew = ::access(path.c_str(), F_OK) != 0;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return problem = Problem("Не удаётся записать курсор", temporary, errno), false;
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fdatasync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        problem = Problem("Не удаётся записать курсор", path, written ? errno : err);
        ::unlink(temporary.c_str());
        return false;
    }
    if (isNew && !SyncFolder(FolderOf(path)))
        return problem = Problem("Не удаётся записать курсор", path, errno), false;
    return true;
}

TArchiveFollower::TArchiveFollower(std::string prefix, QTimeZone zone)
    : prefix_(std::move(prefix)), instants_(std::move(zone)) {}

bool TArchiveFollower::FollowFolder(const std::string& folder, const std::string& suffix,
                                    std::string& problem) {
    folder_ = folder.empty() ? "." : folder;
    suffix_ = suffix;
    live_ = true;
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir) return problem = Problem("Не удаётся прочитать папку", folder_, errno), false;
    std::set<std::string> plain, cursored;
    const std::string tail = suffix_ + ".txt";
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != 19 + tail.size() || name.compare(19, std::string::npos, tail) != 0 ||
            !NameDateTime(name))
            continue;
        const std::string path = folder_ + "/" + name;
        (::access(CursorPath(path).c_str(), F_OK) == 0 ? cursored : plain).insert(path);
    }
    ::closedir(dir);
    for (const std::string& path : cursored) {
        Track(path, true);
        // Files of ended runs pushed whole need no more looking at; a run writes only its own.
        struct stat st {};
        if (path != *cursored.rbegin() && ::stat(path.c_str(), &st) == 0 &&
            static_cast<std::uint64_t>(st.st_size) <= files_[path].cursor.offset) {
            files_.erase(path);
            ignored_.insert(path);
        }
    }
    // A file newer than the newest pushed one was begun by a run that may have ended before
    // its cursor was made: it is this stream's continuation. With no cursor at all, the folder's
    // past is a backfill's to send.
    for (const std::string& path : plain)
        if (cursored.empty() || path < *cursored.rbegin() || !Track(path, false))
            ignored_.insert(path);
    return true;
}

void TArchiveFollower::AddFile(const std::string& path) {
    Track(path, ::access(CursorPath(path).c_str(), F_OK) == 0);
}

std::vector<std::string> TArchiveFollower::Files() const {
    std::vector<std::string> out;
    for (const auto& f : files_)
        out.push_back(f.first);
    return out;
}

bool TArchiveFollower::Track(const std::string& path, bool fromCursor) {
    const std::optional<double> named = NameDateTime(path);
    if (!named) return false;
    TFile file;
    file.nameLocalMs = LocalMsOfDateTime(*named);
    file.durable = fromCursor && ReadCursorFile(path, file.cursor, file.sequence, file.inPlace);
    file.read = file.cursor;
    files_[path] = file;
    return true;
}

void TArchiveFollower::Rescan() {
    struct stat st {};
    if (::stat(folder_.c_str(), &st) != 0) return;
    const std::int64_t mtime = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
    // No file added or removed since a scan made well after the folder's last change: file
    // times advance in clock ticks, so a file made in the tick of a scan shows no new time.
    if (mtime == folderMtimeNs_ && scannedNs_ - mtime > 1'000'000'000LL) return;
    folderMtimeNs_ = mtime;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    scannedNs_ = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir) return;
    const std::string tail = suffix_ + ".txt";
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != 19 + tail.size() || name.compare(19, std::string::npos, tail) != 0)
            continue;
        const std::string path = folder_ + "/" + name;
        if (!files_.count(path) && !ignored_.count(path))
            Track(path, ::access(CursorPath(path).c_str(), F_OK) == 0);
    }
    ::closedir(dir);
}

bool TArchiveFollower::Next(std::size_t maxPoints, TPushBatch& batch, std::string& problem) {
    batch = {};
    if (live_) Rescan();
    for (auto& [path, file] : files_) {
        if (batch.points >= maxPoints) break;
        if (!file.durable) {
            // Made before anything of it is sent, so that a restart finds the file.
            if (!WriteCursor(path, file.cursor, problem)) return false;
            file.durable = file.inPlace = true;
            file.sequence = 1;
        }
        if (!ReadFrom(path, file, maxPoints, batch, problem)) return false;
    }
    return true;
}

bool TArchiveFollower::ReadFrom(const std::string& path, TFile& file, std::size_t maxPoints,
                                TPushBatch& batch, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true; // moved away: what it held was read while it was here
        return problem = Problem("Не удаётся прочитать архив", path, errno), false;
    }
    TPushCursor cursor = file.read;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < cursor.offset)
        cursor = {}; // shorter than what was pushed: another file now has this name
    if (static_cast<std::uint64_t>(st.st_size) == cursor.offset) {
        ::close(fd);
        return true;
    }
    instants_.Start(file.nameLocalMs, cursor.time);
    buffer_.resize(kChunk);
    std::vector<char>& buffer = buffer_;
    bool ok = true;
    while (batch.points < maxPoints) {
        const ssize_t n = ::pread(fd, buffer.data(), kChunk, static_cast<off_t>(cursor.offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            problem = Problem("Не удаётся прочитать архив", path, errno);
            break;
        }
        const std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
        std::size_t start = 0;
        while (batch.points < maxPoints) {
            const std::size_t lf = chunk.find('\n', start);
            if (lf == std::string_view::npos) break;
            const std::string_view line = chunk.substr(start, lf - start);
            start = lf + 1;
            const auto reading = ParseArchiveLine(line.substr(0, kArchiveLineExamined));
            if (reading && AppendPoint(batch.body, prefix_, reading->unitCode, reading->pressure,
                                       instants_.Instant(reading->time)))
                ++batch.points;
            else
                ++batch.skippedLines;
        }
        // A whole chunk without an end of line is no archive line: passed over.
        if (start == 0 && static_cast<std::size_t>(n) == kChunk) start = kChunk;
        cursor.offset += start;
        if (start == 0 || static_cast<std::size_t>(n) < kChunk) break;
    }
    ::close(fd);
    cursor.time = instants_.State();
    if (cursor.offset != file.read.offset) batch.ends[path] = cursor;
    file.read = cursor;
    return ok;
}

bool TArchiveFollower::Commit(const TPushBatch& batch, std::string& problem) {
    for (const auto& [path, cursor] : batch.ends) {
        const auto it = files_.find(path);
        if (it == files_.end()) {
            if (!WriteCursor(path, cursor, problem)) return false;
            continue;
        }
        TFile& file = it->second;
        bool missing = false;
        if (file.inPlace && WriteCursorInPlace(path, cursor, file.sequence + 1, missing, problem)) {
            ++file.sequence;
        } else if (file.inPlace && !missing) {
            return false;
        } else { // the one-line form of earlier versions, or a cursor file removed meanwhile
            if (!WriteCursor(path, cursor, problem)) return false;
            file.inPlace = true;
            file.sequence = 1;
        }
        file.cursor = cursor;
    }
    return true;
}

void TArchiveFollower::Rewind() {
    for (auto& [path, file] : files_)
        file.read = file.cursor;
}

} // namespace vg57
