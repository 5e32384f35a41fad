// Writing the archive on a real disk: the file of a run, appending, failures seen and retried,
// lines after Stop dropped, every line synced; and where the archive folder is made.
#include "ArchiveFolder.h"
#include "ArchiveLoader.h"
#include "ArchiveWriter.h"
#include "DateTime.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace vg57;
namespace fs = std::filesystem;

namespace {

const double kT0 = MakeDateTime(2024, 3, 5, 14, 7, 9, 512);
const double kT1 = MakeDateTime(2024, 3, 5, 14, 7, 10, 12);
const std::string kName0 = "2024_03_05 14_07_09.txt";
const std::string kLine0 = "14:07:09.512 1.2E-5 0002\r\n";
const std::string kLine1 = "14:07:10.012 760 0001\r\n";

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The real calls, counted; a write or a sync can be made to fail once.
class CountingSystem : public TArchiveSystem {
public:
    int OpenForAppend(const std::string& path) override {
        ++opens;
        return TArchiveSystem::OpenForAppend(path);
    }
    long Write(int fd, const char* data, std::size_t size) override {
        ++writes;
        if (failWrite == 1) { // a full disk: part of the line goes, then the error
            failWrite = 2;
            return TArchiveSystem::Write(fd, data, 5);
        }
        if (failWrite == 2) {
            failWrite = 0;
            errno = ENOSPC;
            return -1;
        }
        return TArchiveSystem::Write(fd, data, size);
    }
    int DataSync(int fd) override {
        ++dataSyncs;
        if (failSync) {
            failSync = false;
            errno = EIO;
            return -1;
        }
        return TArchiveSystem::DataSync(fd);
    }
    int SyncFolder(const std::string& folder) override {
        syncedFolders.push_back(folder);
        return TArchiveSystem::SyncFolder(folder);
    }
    int opens = 0, writes = 0, dataSyncs = 0;
    int failWrite = 0;
    bool failSync = false;
    std::vector<std::string> syncedFolders;
};

struct Writer {
    explicit Writer(const std::string& folder, TArchiveSystem& system = SystemArchiveCalls())
        : w(system) {
        w.SetFolder(folder);
        w.onStatusChanged = [this] { ++statusChanges; };
        w.Reset();
        statusChanges = 0;
    }
    TArchiveWriter w;
    int statusChanges = 0;
};

TEST(ArchiveWriter, theRunsFirstLineCreatesTheFileNamedAfterItsMoment) {
    test::TempDir dir;
    CountingSystem sys;
    Writer a(dir.Path(), sys);
    a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
    a.w.WriteArchiveLine(kT1, 760, "0001");
    EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{kName0});
    EXPECT_EQ(a.w.Path(), dir.Path() + "/" + kName0);
    EXPECT_EQ(Read(a.w.Path()), kLine0 + kLine1);
    EXPECT_EQ(a.w.Problem(), "");
    EXPECT_EQ(a.statusChanges, 1); // the path appeared
    // Every line on the disk, and the new file's name in its folder.
    EXPECT_EQ(sys.dataSyncs, 2);
    EXPECT_EQ(sys.syncedFolders, std::vector<std::string>{dir.Path()});
}

TEST(ArchiveWriter, aRunWithoutALineLeavesNoFile) {
    test::TempDir dir;
    Writer a(dir.Path());
    a.w.Close();
    EXPECT_TRUE(Files(dir.Path()).empty());
    EXPECT_FALSE(a.w.ArchiveOpen());
}

TEST(ArchiveWriter, aFileOfTheSameNameIsAppendedToNeverTruncated) {
    const struct {
        const char* name;
        const char* earlier;
        const char* joint; // between what was there and this run's first line
    } cases[] = {
        {"endsWithALine", "12:00:00.000 5 0001\r\n", ""},
        {"endsWithLineFeedAlone", "12:00:00.000 5 0001\n", ""},
        // Cut short by a crash or a full disk: this run's first line must not join it.
        {"endsInsideALine", "12:00:00.000 5 0001\r\n12:00:01.000 6", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.Path() + "/" + kName0;
        std::ofstream(path, std::ios::binary) << c.earlier;
        Writer a(dir.Path());
        a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
        a.w.Close();
        // A second run within the same second, as after a quick Stop and Start.
        a.w.Reset();
        a.w.WriteArchiveLine(kT0 + 0.2 / 86400, 1.2e-5L, "0002");
        a.w.Close();
        EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{kName0});
        EXPECT_EQ(Read(path),
                  c.earlier + std::string(c.joint) + kLine0 + "14:07:09.712 1.2E-5 0002\r\n");
        TArchiveData data;
        ASSERT_EQ(ReadArchiveFile(path, data), "");
        EXPECT_EQ(data.pressures, (std::vector<double>{5, 1.2e-5, 1.2e-5}));
    }
}

TEST(ArchiveWriter, aLineAfterStopIsDroppedWithoutTouchingTheClosedHandle) {
    test::TempDir dir;
    CountingSystem sys;
    Writer a(dir.Path(), sys);
    a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
    a.w.Close();
    // The closed descriptor's number is likely handed out again at once.
    const std::string other = dir.Path() + "/other";
    const int fd = ::open(other.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const int writes = sys.writes;
    a.w.WriteArchiveLine(kT1, 760, "0001");
    ::close(fd);
    EXPECT_EQ(sys.writes, writes);
    EXPECT_EQ(sys.opens, 1);
    EXPECT_EQ(Read(other), "");
    EXPECT_EQ(Read(dir.Path() + "/" + kName0), kLine0);
    EXPECT_TRUE(a.w.ArchiveOpen()); // until the next Start
    // The next run writes again, to a file of its own.
    a.w.Reset();
    a.w.WriteArchiveLine(kT1 + 1.0 / 86400, 760, "0001");
    EXPECT_EQ(Files(dir.Path()).size(), 3u);
}

TEST(ArchiveWriter, aFolderThatCannotHoldTheFileIsReportedAndRetried) {
    test::TempDir dir;
    // Tests run as root, where permissions stop nothing: a path through a regular file does.
    const std::string blocker = dir.Path() + "/plain";
    std::ofstream(blocker) << "x";
    const std::string folder = blocker + "/VG-57";
    CountingSystem sys;
    Writer a(folder, sys);

    a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
    EXPECT_EQ(a.w.Problem(),
              "Не удаётся записать архив " + folder + "/" + kName0 + ": Not a directory");
    EXPECT_EQ(a.statusChanges, 1);
    EXPECT_FALSE(a.w.ArchiveOpen());
    EXPECT_EQ(sys.writes, 0); // nothing through a handle that failed to open
    a.w.WriteArchiveLine(kT0 + 0.5 / 86400, 1.2e-5L, "0002");
    EXPECT_EQ(sys.opens, 2);
    EXPECT_EQ(sys.writes, 0);

    // The folder becomes usable: the next reading creates the file, named after its moment.
    fs::remove(blocker);
    fs::create_directories(folder);
    a.w.WriteArchiveLine(kT1, 760, "0001");
    EXPECT_EQ(a.w.Problem(), "");
    EXPECT_EQ(Files(folder), std::vector<std::string>{"2024_03_05 14_07_10.txt"});
    EXPECT_EQ(Read(a.w.Path()), kLine1);
}

// A line keeps only its time: a reader puts it on the day nearest the line before. Readings
// after a night's silence start a file of their own, or they would load on the evening's day.
TEST(ArchiveWriter, aReadingMoreThanTwelveHoursAfterTheLastLineStartsAFileNamedAfterIt) {
    test::TempDir dir;
    Writer a(dir.Path());
    a.w.WriteArchiveLine(MakeDateTime(2024, 3, 5, 19, 0, 0, 0), 1e-3L, "0001");
    const double morning = MakeDateTime(2024, 3, 6, 8, 30, 0, 0); // silent overnight
    a.w.WriteArchiveLine(morning, 2e-3L, "0001");
    a.w.WriteArchiveLine(morning + 0.5, 3e-3L, "0001"); // 12 h: still this file
    EXPECT_EQ(Files(dir.Path()),
              (std::vector<std::string>{"2024_03_05 19_00_00.txt", "2024_03_06 08_30_00.txt"}));
    EXPECT_EQ(Read(a.w.Path()), "08:30:00.000 0.002 0001\r\n20:30:00.000 0.003 0001\r\n");
    EXPECT_EQ(a.w.Notice(), "") << "a new file after a gap is no news";
}

// The file goes away under the open handle: the next line starts a new file, named after it,
// and the status says so until Stop.
TEST(ArchiveWriter, aFileRemovedMovedOrReplacedWhileWritingIsNoticedAndANewOneBegun) {
    for (const char* how : {"delete", "rename", "folder"}) {
        SCOPED_TRACE(how);
        test::TempDir dir;
        Writer a(dir.Path());
        a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
        const std::string first = a.w.Path();
        if (std::string(how) != "rename") fs::remove(first);
        if (std::string(how) == "rename") fs::rename(first, dir.Path() + "/moved.txt");
        if (std::string(how) == "folder") fs::create_directory(first);
        a.w.WriteArchiveLine(kT1, 760, "0001");
        const std::string second = dir.Path() + "/2024_03_05 14_07_10.txt";
        EXPECT_EQ(a.w.Path(), second);
        EXPECT_EQ(Read(second), kLine1);
        EXPECT_EQ(a.w.Problem(), "");
        EXPECT_EQ(a.w.Notice(),
                  "Файл архива " + first + " удалён или перемещён, начат новый: " + second);
        a.w.WriteArchiveLine(kT1 + 1.0 / 86400, 760, "0001");
        EXPECT_EQ(Read(second), kLine1 + "14:07:11.012 760 0001\r\n");
        EXPECT_NE(a.w.Notice(), "") << "stays until Stop";
        const int before = a.statusChanges;
        a.w.Close();
        EXPECT_EQ(a.w.Notice(), "");
        EXPECT_EQ(a.statusChanges, before + 1);
    }
}

TEST(ArchiveWriter, aFailedWriteIsReportedAndTheNextLineReopensAndAppends) {
    const struct {
        const char* name;
        int failWrite;
        bool failSync;
        const char* reason;
    } cases[] = {
        {"diskFullHalfWayThroughALine", 1, false, "No space left on device"},
        {"syncFails", 0, true, "Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        CountingSystem sys;
        Writer a(dir.Path(), sys);
        a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
        sys.failWrite = c.failWrite;
        sys.failSync = c.failSync;
        a.w.WriteArchiveLine(kT0 + 0.5 / 86400, 9, "0002");
        const std::string path = dir.Path() + "/" + kName0;
        EXPECT_EQ(a.w.Problem(), "Не удаётся записать архив " + path + ": " + c.reason);
        EXPECT_EQ(sys.opens, 1);

        a.w.WriteArchiveLine(kT1, 760, "0001");
        EXPECT_EQ(sys.opens, 2); // reopened for appending, same file
        EXPECT_EQ(a.w.Problem(), "");
        EXPECT_EQ(a.statusChanges, 3); // path, problem, problem gone
        EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{kName0});
        // Whatever part of the failed line reached the disk stays a line of its own, so the
        // lines around it still load.
        TArchiveData data;
        ASSERT_EQ(ReadArchiveFile(path, data), "");
        EXPECT_EQ(data.pressures.back(), 760);
        EXPECT_EQ(data.pressures.front(), 1.2e-5);
        EXPECT_EQ(Read(path).substr(0, kLine0.size()), kLine0);
        EXPECT_EQ(Read(path).substr(Read(path).size() - kLine1.size() - 2), "\r\n" + kLine1);
    }
}

// ---- the archive folder ----

class ArchiveFolderEnv : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        setenv("HOME", home_.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home_.Path() + "/.config").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, v] : saved_)
            v ? setenv(name.c_str(), v->c_str(), 1) : unsetenv(name.c_str());
    }
    test::TempDir home_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ArchiveFolderEnv, isMadeInTheDocumentsFolderTheDesktopNames) {
    fs::create_directories(home_.Path() + "/.config");
    std::ofstream(home_.Path() + "/.config/user-dirs.dirs")
        << "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n";
    const TArchiveFolder f = PrepareArchiveFolder();
    EXPECT_EQ(f.path, home_.Path() + "/Документы/VG-57");
    EXPECT_EQ(f.problem, "");
    EXPECT_TRUE(fs::is_directory(f.path));
    EXPECT_EQ(PrepareArchiveFolder().path, f.path); // already there
}

TEST_F(ArchiveFolderEnv, fallsBackToTheHomeFolderAndSaysWhy) {
    std::ofstream(home_.Path() + "/Documents") << "not a folder";
    const TArchiveFolder f = PrepareArchiveFolder();
    EXPECT_EQ(f.path, home_.Path());
    EXPECT_NE(f.problem.find(home_.Path() + "/Documents/VG-57"), std::string::npos) << f.problem;
    EXPECT_NE(f.problem.find("Not a directory"), std::string::npos) << f.problem;
}

} // namespace
