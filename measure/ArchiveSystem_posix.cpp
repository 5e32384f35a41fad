#include "ArchiveSystem.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vg57 {

int TArchiveSystem::OpenForAppend(const std::string& path) {
    int fd;
    for (const int access : {O_RDWR, O_WRONLY}) { // a file we may only write is still written
        do {
            fd = ::open(path.c_str(), access | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EACCES) break;
    }
    return fd;
}

bool TArchiveSystem::EndsInsideLine(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return true;
    if (st.st_size == 0) return false;
    char last = 0;
    ssize_t n;
    do {
        n = ::pread(fd, &last, 1, st.st_size - 1);
    } while (n < 0 && errno == EINTR);
    // Unknown counts as unfinished: an empty line costs nothing, a joined one loses readings.
    return n != 1 || last != '\n';
}

long TArchiveSystem::Write(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}

long long TArchiveSystem::Size(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int TArchiveSystem::Truncate(int fd, long long length) {
    int rc;
    do {
        rc = ::ftruncate(fd, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc;
}

int TArchiveSystem::DataSync(int fd) {
    return ::fdatasync(fd);
}

int TArchiveSystem::SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    errno = err;
    return rc;
}

int TArchiveSystem::Close(int fd) {
    return ::close(fd);
}

bool TArchiveSystem::StillAtPath(int fd, const std::string& path) {
    struct stat open {
    }, named{};
    if (::fstat(fd, &open) != 0) return true; // the next write reports what is wrong
    if (::stat(path.c_str(), &named) != 0) return errno != ENOENT && errno != ENOTDIR;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool TArchiveSystem::Linked(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) != 0 || st.st_nlink > 0;
}

std::string TArchiveSystem::PathOf(int fd) {
    // The kernel keeps the name of every open file up to date, wherever it was moved.
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf || buf[0] != '/') return {};
    std::string path(buf, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) return {};
    return path;
}

int TArchiveSystem::MakeFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!ec && !std::filesystem::is_directory(folder, ec) && !ec)
        ec = std::make_error_code(std::errc::not_a_directory);
    errno = ec.value();
    return ec ? -1 : 0;
}

TArchiveSystem& SystemArchiveCalls() {
    static TArchiveSystem calls;
    return calls;
}

std::string ErrnoText(int err) {
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not be in buf.
    return ::strerror_r(err, buf, sizeof buf);
}

} // namespace vg57
