#include "ArchiveWriter.h"

#include "ArchiveFormat.h"

#include <cerrno>

namespace vg57 {

namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

std::string WriteProblem(const std::string& path, int err) {
    return "Не удаётся записать архив " + path + ": " + ErrnoText(err);
}

} // namespace

TArchiveWriter::TArchiveWriter(TArchiveSystem& system) : system_(system) {}

TArchiveWriter::~TArchiveWriter() {
    CloseFile();
}

void TArchiveWriter::SetFolder(std::string folder) {
    folder_ = std::move(folder);
}

void TArchiveWriter::Reset() {
    CloseFile();
    running_ = true;
    breakLine_ = false;
    haveLastLine_ = false;
    notice_.clear();
    noticeNamesFile_ = false;
    SetStatus({}, {});
}

void TArchiveWriter::Close() {
    CloseFile();
    running_ = false;
    if (notice_.empty()) return;
    notice_.clear();
    noticeNamesFile_ = false;
    if (onStatusChanged) onStatusChanged();
}

std::string TArchiveWriter::Notice() const {
    if (!noticeNamesFile_) return notice_;
    // Told once the new file is there; until then a failure to make it is the news.
    return path_.empty() ? std::string() : notice_ + ": " + path_;
}

void TArchiveWriter::SetNotice(std::string notice, bool namesNewFile) {
    // Told by the caller's change of status, so that one change is told once.
    notice_ = std::move(notice);
    noticeNamesFile_ = namesNewFile;
}

bool TArchiveWriter::FollowMovedFile() {
    if (!system_.Linked(fd_)) return false;
    const std::string from = path_;
    std::string now = system_.PathOf(fd_);
    // Not found: the lines still go to the file, wherever it is; the old name is not reused.
    if (now.empty()) {
        SetNotice("Файл архива " + from + " перемещён, запись в него продолжается", false);
        stillMoved_ = true;
        if (onStatusChanged) onStatusChanged();
        return true;
    }
    stillMoved_ = false;
    SetNotice("Файл архива " + from + " перемещён, запись продолжается в " + now, false);
    SetStatus(std::move(now), problem_);
    return true;
}

void TArchiveWriter::LeaveFileIfDone(std::int64_t now) {
    if (path_.empty()) return;
    const bool gap = haveLastLine_ && now - lastLine_ > kLongestGapMs;
    const bool back = haveLastLine_ && now < lastLine_ - kClockBackToleranceMs;
    // Checked through the open handle only: a file reopened after a failure is found by name.
    bool gone = false;
    if (fd_ >= 0) {
        if (stillMoved_)
            gone = !system_.Linked(fd_);
        else if (!system_.StillAtPath(fd_, path_))
            gone = !FollowMovedFile();
    }
    if (!gap && !back && !gone) return;
    // Said with the new file's name, once it is made.
    if (gone) {
        SetNotice("Файл архива " + path_ + " удалён, начат новый", true);
    } else if (back) {
        std::string text = "Часы переведены назад, с ";
        AppendClockTime(text, LocalTimeAt(lastLine_));
        text += " на ";
        AppendClockTime(text, LocalTimeAt(now));
        SetNotice(text + ", начат новый файл архива", true);
    }
    CloseFile();
    breakLine_ = false;
    haveLastLine_ = false;
    SetStatus({}, problem_);
}

void TArchiveWriter::WriteArchiveLine(std::int64_t now, long double pressure,
                                      std::string_view unitCode) {
    // A tick that was suspended in a wait when Stop ran: its line belongs to a closed run.
    if (!running_) return;
    const TLocalTime t = LocalTimeAt(now);
    LeaveFileIfDone(now);
    if (fd_ < 0) {
        // Created at the run's first line, or reopened after a failed write.
        if (path_.empty()) createdPath_ = JoinPath(folder_, ArchiveFileName(t, nameAddress_));
        const std::string path = path_.empty() ? createdPath_ : path_;
        if (!OpenFile(path)) return;
    }
    std::string problem;
    if (!folderSynced_) {
        // Without this a crash can lose the new file's name, and every line with it.
        const std::string folder = folder_.empty() ? "." : folder_;
        if (system_.SyncFolder(folder) == 0 || errno == EINVAL)
            folderSynced_ = true; // EINVAL: the file system has nothing to sync
        else
            problem = WriteProblem(folder, errno);
    }
    if (!WriteLine(FormatArchiveLine(t, pressure, unitCode)) || system_.DataSync(fd_) != 0) {
        const int err = errno;
        CloseFile();
        SetStatus(path_, WriteProblem(path_, err));
        return;
    }
    lastLine_ = now;
    haveLastLine_ = true;
    SetStatus(path_, std::move(problem));
    if (onLineWritten) onLineWritten();
}

bool TArchiveWriter::WriteLine(const std::string& line) {
    const long long before = system_.Size(fd_);
    const bool broken = breakLine_;
    // A fragment of a failed line stays a line of its own.
    if (WriteAll(broken ? "\r\n" + line : line)) {
        breakLine_ = false;
        return true;
    }
    const int err = errno;
    // A full disk may take part of the line: cut it off again, or the file would end in a
    // reading with a cut pressure or unit that reads back as a true one.
    const bool cut = before >= 0 && system_.Truncate(fd_, before) == 0;
    breakLine_ = cut ? broken : true;
    errno = err;
    return false;
}

int TArchiveWriter::OpenRemakingFolder(const std::string& path) {
    int fd = system_.OpenForAppend(path);
    // The folder went away (moved or deleted with the run's old file): made again, as at start.
    if (fd < 0 && errno == ENOENT && !folder_.empty() && system_.MakeFolder(folder_) == 0)
        fd = system_.OpenForAppend(path);
    return fd;
}

bool TArchiveWriter::OpenFile(const std::string& path) {
    const int fd = OpenRemakingFolder(path);
    if (fd < 0) {
        SetStatus(path_, WriteProblem(path, errno));
        return false;
    }
    fd_ = fd;
    folderSynced_ = false;
    stillMoved_ = false;
    // A file of the same name may end in a line cut short by a crash, a full disk or another
    // program: this run's first line must not join it.
    if (system_.EndsInsideLine(fd)) breakLine_ = true;
    SetStatus(path, problem_);
    return true;
}

bool TArchiveWriter::WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = system_.Write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC; // no progress on a regular file: the disk is full
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void TArchiveWriter::ReopenFile() {
    CloseFile();
    // Rotation moves the file, then asks for a reopen: a line written in between followed the
    // file to its new name, but the next one goes to the name the run gave it.
    stillMoved_ = false;
    if (!path_.empty() && !createdPath_.empty()) SetStatus(createdPath_, problem_);
}

void TArchiveWriter::CloseFile() {
    if (fd_ < 0) return;
    // Every line was already synced: a failing close loses nothing.
    system_.Close(fd_);
    fd_ = -1;
}

void TArchiveWriter::SetStatus(std::string path, std::string problem) {
    if (path == path_ && problem == problem_) return;
    path_ = std::move(path);
    problem_ = std::move(problem);
    if (onStatusChanged) onStatusChanged();
}

} // namespace vg57
