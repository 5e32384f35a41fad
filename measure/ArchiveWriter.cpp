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
    lastLine_ = 0;
    leftPath_.clear();
    SetStatus({}, {});
}

void TArchiveWriter::Close() {
    CloseFile();
    running_ = false;
    if (leftPath_.empty()) return;
    leftPath_.clear();
    if (onStatusChanged) onStatusChanged();
}

std::string TArchiveWriter::Notice() const {
    if (leftPath_.empty()) return {};
    return "Файл архива " + leftPath_ + " удалён или перемещён, начат новый" +
           (path_.empty() ? std::string() : ": " + path_);
}

void TArchiveWriter::LeaveFileIfDone(double now) {
    if (path_.empty()) return;
    const bool gap = lastLine_ != 0 && now - lastLine_ > kLongestGapDays;
    // Checked through the open handle only: a file reopened after a failure is found by name.
    const bool gone = fd_ >= 0 && !system_.StillAtPath(fd_, path_);
    if (!gap && !gone) return;
    if (gone) leftPath_ = path_;
    CloseFile();
    breakLine_ = false;
    lastLine_ = 0;
    SetStatus({}, problem_);
}

void TArchiveWriter::WriteArchiveLine(double now, long double pressure, std::string_view unitCode) {
    // A tick that was suspended in a wait when Stop ran: its line belongs to a closed run.
    if (!running_) return;
    const TLocalTime t = LocalTimeOf(now);
    LeaveFileIfDone(now);
    if (fd_ < 0) {
        // Created at the run's first line, or reopened after a failed write.
        const std::string path =
            path_.empty() ? JoinPath(folder_, ArchiveFileName(t, nameAddress_)) : path_;
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
    std::string line = FormatArchiveLine(t, pressure, unitCode);
    if (breakLine_) line.insert(0, "\r\n"); // a fragment of a failed line stays a line of its own
    if (!WriteAll(line) || system_.DataSync(fd_) != 0) {
        const int err = errno;
        CloseFile();
        breakLine_ = true;
        SetStatus(path_, WriteProblem(path_, err));
        return;
    }
    breakLine_ = false;
    lastLine_ = now;
    SetStatus(path_, std::move(problem));
}

bool TArchiveWriter::OpenFile(const std::string& path) {
    const int fd = system_.OpenForAppend(path);
    if (fd < 0) {
        SetStatus(path_, WriteProblem(path, errno));
        return false;
    }
    fd_ = fd;
    folderSynced_ = false;
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
