#include "ArchiveLoader.h"

#include "ArchiveSystem.h"
#include "ChartModel.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vg57 {

namespace {

class TFile {
public:
    explicit TFile(int fd) : fd_(fd) {}
    ~TFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::string ReadArchiveFile(const std::string& path, TArchiveData& data) {
    // Non-blocking, so that a named pipe chosen by mistake cannot hang the window in open().
    TFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() < 0) return path + ": " + ErrnoText(errno);
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0) return path + ": " + ErrnoText(errno);
    if (S_ISDIR(st.st_mode)) return path + ": " + ErrnoText(EISDIR);
    // A device or a pipe may never end.
    if (!S_ISREG(st.st_mode)) return path + ": не обычный файл";

    TArchiveReader reader;
    // A written line takes 20 to 30 bytes; a hint only, capped so that a huge file of something
    // else costs no memory up front.
    reader.Reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size) / 20, 1u << 22));
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(file.fd(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return path + ": " + ErrnoText(errno);
        if (n == 0) break;
        reader.Feed({buffer.data(), static_cast<std::size_t>(n)});
    }
    reader.Finish();
    data = reader.Take();
    return {};
}

std::string LoadArchiveFile(const std::string& path, TChartModel& chart) {
    TArchiveData data;
    if (std::string problem = ReadArchiveFile(path, data); !problem.empty()) return problem;
    chart.LoadArchive(data.times, data.pressures, data.tmin, data.tmax, data.units, data.unitCodes);
    return {};
}

} // namespace vg57
