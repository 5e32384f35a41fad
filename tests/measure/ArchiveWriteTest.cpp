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

const std::int64_t kT0 = MakeLocalMs(2024, 3, 5, 14, 7, 9, 512);
const std::int64_t kT1 = MakeLocalMs(2024, 3, 5, 14, 7, 10, 12);
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
    int Truncate(int fd, long long length) override {
        ++truncates;
        if (failTruncate) {
            errno = EIO;
            return -1;
        }
        return TArchiveSystem::Truncate(fd, length);
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
    int opens = 0, writes = 0, dataSyncs = 0, truncates = 0;
    int failWrite = 0;
    bool failSync = false, failTruncate = false;
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
        a.w.WriteArchiveLine(kT0 + 200, 1.2e-5L, "0002");
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
    a.w.WriteArchiveLine(kT1 + 1000, 760, "0001");
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
    a.w.WriteArchiveLine(kT0 + 500, 1.2e-5L, "0002");
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

// A line keeps only its time: a reader puts it on the day nearest the line before, and takes
// times within a file as never going back but across midnight. Readings after a night's silence,
// or after the clock went back, start a file of their own named after them.
TEST(ArchiveWriter, theClockDecidesWhenALineStartsAFileOfItsOwn) {
    const auto at = [](int d, int h, int m, int s, int ms = 0) {
        return MakeLocalMs(2026, 10, d, h, m, s, ms);
    };
    const struct {
        const char* name;
        std::vector<std::int64_t> lines;
        std::vector<std::string> files;
        const char* notice; // what the status says after the last line
    } rows[] = {
        {"silentOvernight",
         {at(24, 19, 0, 0), at(25, 8, 30, 0), at(25, 20, 30, 0)}, // 12 h: still that file
         {"2026_10_24 19_00_00.txt", "2026_10_25 08_30_00.txt"},
         ""},
        {"acrossMidnight",
         {at(24, 23, 59, 59, 500), at(25, 0, 0, 0)},
         {"2026_10_24 23_59_59.txt"},
         ""},
        {"backWithinASecond",
         {at(25, 9, 0, 1), at(25, 9, 0, 0, 100)},
         {"2026_10_25 09_00_01.txt"},
         ""},
        {"steppedBack",
         {at(25, 9, 0, 0), at(25, 9, 0, 5), at(25, 9, 0, 3)},
         {"2026_10_25 09_00_00.txt", "2026_10_25 09_00_03.txt"},
         "Часы переведены назад, с 09:00:05.000 на 09:00:03.000, начат новый файл архива: "},
        {"summerTimeEnds",
         {at(25, 2, 59, 59, 500), at(25, 2, 0, 0), at(25, 2, 0, 0, 500)},
         {"2026_10_25 02_00_00.txt", "2026_10_25 02_59_59.txt"},
         "Часы переведены назад, с 02:59:59.500 на 02:00:00.000, начат новый файл архива: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        Writer a(dir.Path());
        std::vector<std::string> told;
        a.w.onStatusChanged = [&] {
            if (!a.w.Notice().empty() && (told.empty() || told.back() != a.w.Notice()))
                told.push_back(a.w.Notice());
        };
        for (std::int64_t t : row.lines)
            a.w.WriteArchiveLine(t, 1e-3L, "0001");
        EXPECT_EQ(Files(dir.Path()), row.files);
        EXPECT_EQ(a.w.Notice(), *row.notice ? row.notice + a.w.Path() : "");
        EXPECT_LE(told.size(), 1u) << "said once";
        // Each file read back alone never goes back by more than the tolerance.
        for (const std::string& name : row.files) {
            TArchiveData data;
            ASSERT_EQ(ReadArchiveFile(dir.Path() + "/" + name, data), "");
            for (std::size_t i = 1; i < data.times.size(); ++i)
                EXPECT_GE(data.times[i], data.times[i - 1] - 1.0 / 86400) << name;
        }
    }
}

// The file goes away under the open handle. Deleted: the next line starts a new file, named
// after it. Moved or renamed, alone or with its folder: the lines go on into it, and the status
// says where it is now. A folder that is gone when a new file is due is made again.
TEST(ArchiveWriter, aFileDeletedOrMovedWhileWritingIsNoticedAndNoLineIsLost) {
    for (const std::string how : {"delete", "replaceByAFolder", "rename", "moveTheFolder"}) {
        SCOPED_TRACE(how);
        test::TempDir dir;
        const std::string folder = dir.Path() + "/VG-57";
        Writer a(folder);
        a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
        const std::string first = a.w.Path();
        std::string movedTo;
        if (how == "delete" || how == "replaceByAFolder") fs::remove(first);
        if (how == "replaceByAFolder") fs::create_directory(first);
        if (how == "rename") fs::rename(first, movedTo = folder + "/moved.txt");
        if (how == "moveTheFolder") {
            fs::rename(folder, dir.Path() + "/old");
            movedTo = dir.Path() + "/old/" + kName0;
        }
        a.w.WriteArchiveLine(kT1, 760, "0001");
        a.w.WriteArchiveLine(kT1 + 1000, 760, "0001");
        EXPECT_EQ(a.w.Problem(), "");
        const std::string line2 = "14:07:11.012 760 0001\r\n";
        if (movedTo.empty()) {
            const std::string second = folder + "/2024_03_05 14_07_10.txt";
            EXPECT_EQ(a.w.Path(), second);
            EXPECT_EQ(Read(second), kLine1 + line2);
            EXPECT_EQ(a.w.Notice(), "Файл архива " + first + " удалён, начат новый: " + second);
        } else {
            EXPECT_EQ(a.w.Path(), movedTo);
            EXPECT_EQ(Read(movedTo), kLine0 + kLine1 + line2);
            EXPECT_EQ(a.w.Notice(),
                      "Файл архива " + first + " перемещён, запись продолжается в " + movedTo);
        }
        // The clock goes back: a new file, in the folder as configured, made again if need be.
        a.w.WriteArchiveLine(kT0 - 60'000, 5, "0001");
        EXPECT_EQ(a.w.Path(), folder + "/2024_03_05 14_06_09.txt");
        EXPECT_EQ(Read(a.w.Path()), "14:06:09.512 5 0001\r\n");
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
        bool failSync, failTruncate;
        const char* reason;
        const char* between; // what the failed line left between the good ones
    } cases[] = {
        // Cut back off: the file ends in whole lines, and the next joins them.
        {"diskFullHalfWayThroughALine", 1, false, false, "No space left on device", ""},
        // Not cut back: the fragment stays a line of its own.
        {"diskFullAndCannotCutBack", 1, false, true, "No space left on device", "14:07\r\n"},
        {"syncFails", 0, true, false, "Input/output error", "14:07:10.012 9 0002\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        CountingSystem sys;
        Writer a(dir.Path(), sys);
        a.w.WriteArchiveLine(kT0, 1.2e-5L, "0002");
        sys.failWrite = c.failWrite;
        sys.failSync = c.failSync;
        sys.failTruncate = c.failTruncate;
        a.w.WriteArchiveLine(kT0 + 500, 9, "0002");
        const std::string path = dir.Path() + "/" + kName0;
        EXPECT_EQ(a.w.Problem(), "Не удаётся записать архив " + path + ": " + c.reason);
        EXPECT_EQ(sys.opens, 1);

        a.w.WriteArchiveLine(kT1, 760, "0001");
        EXPECT_EQ(sys.opens, 2); // reopened for appending, same file
        EXPECT_EQ(a.w.Problem(), "");
        EXPECT_EQ(a.statusChanges, 3); // path, problem, problem gone
        EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{kName0});
        EXPECT_EQ(Read(path), kLine0 + c.between + kLine1);
        TArchiveData data;
        ASSERT_EQ(ReadArchiveFile(path, data), "");
        EXPECT_EQ(data.pressures.back(), 760);
        EXPECT_EQ(data.pressures.front(), 1.2e-5);
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
