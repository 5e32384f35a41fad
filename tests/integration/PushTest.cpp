// vg57-cli log pushing to real servers started here on loopback ports with temporary folders:
// InfluxDB stopped in the middle of a run and a logger killed with SIGKILL lose nothing and send
// nothing twice; mosquitto sees the states, keeps the last one retained, and says "offline" when
// the logger dies. Every loop is bounded; the servers are stopped by the test.
#include "ArchiveFollower.h"
#include "CliProcess.h"
#include "InfluxServer.h"
#include "Loopback.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vg57::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const char kZone[] = "Europe/Berlin"; // the children's zone, whatever the machine's

template <class F> bool Eventually(F done, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(50ms))
        if (done()) return true;
    return false;
}

// influxd with its data, meta and WAL in `dir`, serving HTTP on one loopback port.

// Every reading of the archive files in `folder` as Unix milliseconds and pressure.
std::map<qint64, double> ArchivedReadings(const std::string& folder) {
    std::map<qint64, double> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.size() != 23 || e.path().extension() != ".txt") continue;
        const QDate date =
            QDate::fromString(QString::fromStdString(name.substr(0, 10)), "yyyy_MM_dd");
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);) {
            const QTime t =
                QTime::fromString(QString::fromStdString(line.substr(0, 12)), "hh:mm:ss.zzz");
            const qint64 ms = QDateTime(date, t, QTimeZone(kZone)).toMSecsSinceEpoch();
            out[ms] = std::stod(line.substr(13, line.find(' ', 13) - 13));
        }
    }
    return out;
}

std::map<qint64, double> StoredReadings(TInfluxServer& influx) {
    std::map<qint64, double> out;
    const QJsonArray rows = influx.Query("SELECT pressure FROM vg57");
    for (const QJsonValue& value : rows) {
        const QJsonArray row = value.toArray();
        out[static_cast<qint64>(row.at(0).toDouble())] = row.at(1).toDouble();
    }
    return out;
}

// vg57-cli push of every file in the folder; its stdout.
std::string Backfill(const std::string& folder, const QString& url) {
    QStringList args{"push", "--influx", url};
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") args << QString::fromStdString(e.path().string());
    QProcess push;
    push.start(VG57_CLI_PATH, args);
    push.waitForFinished(60000);
    EXPECT_EQ(push.exitCode(), 0) << push.readAllStandardError().toStdString();
    return push.readAllStandardOutput().toStdString();
}

class Push : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("influxd").isEmpty())
            GTEST_SKIP() << "influxd is not installed (./test.sh installs the influxdb package)";
        qputenv("TZ", kZone);
        ASSERT_TRUE(influx_.Start());
        influx_.Query("CREATE DATABASE lab");
        archive_ = work_.Path() + "/archive";
    }
    QStringList LogArgs() const {
        return {"log",
                "--port",
                "COM3",
                "--interval",
                "0.1",
                "--archive-dir",
                QString::fromStdString(archive_),
                "--influx",
                influx_.Url()};
    }
    TempDir work_;
    TInfluxServer influx_{work_.Path()};
    std::string archive_;
};

} // namespace

// The outage is 12 s rather than a bench's 30: it spans four retries of the back-off (1, 2, 4,
// 8 s), which is what could lose or double readings.
TEST_F(Push, anInfluxOutageLosesNothingAndEveryReadingIsStoredOnceAtItsArchiveTime) {
    SimProcess sim({"--com", "3"});
    CliProcess cli(LogArgs(), sim.ConfigHome());
    ASSERT_FALSE(cli.WaitForLine("архив:").empty()) << cli.Stderr();
    std::this_thread::sleep_for(3s);
    influx_.Stop();
    ASSERT_FALSE(cli.WaitForLine("InfluxDB недоступен", 10000).empty()) << cli.Stderr();
    std::this_thread::sleep_for(12s);
    ASSERT_TRUE(influx_.Start());
    const std::string back = cli.WaitForLine("снова доступен, догружено", 40000);
    ASSERT_FALSE(back.empty()) << cli.Stderr();
    EXPECT_GT(std::stoi(back.substr(back.find("догружено") + 19)), 60) << back;
    kill(static_cast<pid_t>(cli.Pid()), SIGINT);
    ASSERT_EQ(cli.WaitForExit(), 0);
    Backfill(archive_, influx_.Url()); // the readings of the last second, after the logger
    const std::map<qint64, double> archived = ArchivedReadings(archive_);
    ASSERT_GT(archived.size(), 150u);
    EXPECT_EQ(StoredReadings(influx_), archived);
    EXPECT_NE(Backfill(archive_, influx_.Url()).find("pushed 0 readings"), std::string::npos);
}

// A batch in flight at the kill may reach the server without its answer reaching the logger;
// the server then holds its points once still (one point per series and time). What must never
// go twice is what the server acknowledged: everything before the cursor.
TEST_F(Push, aLoggerKilledAndStartedAgainSendsNothingTwice) {
    SimProcess sim({"--com", "3"});
    const auto received = [&] {
        const QJsonArray stats = influx_.Query("SHOW STATS FOR 'write'");
        return stats.isEmpty() ? -1L : static_cast<long>(stats.at(0).toArray().at(0).toDouble());
    };
    std::string cursorPath;
    {
        CliProcess first(LogArgs(), sim.ConfigHome());
        ASSERT_FALSE(first.WaitForLine("архив:").empty()) << first.Stderr();
        ASSERT_TRUE(Eventually([&] { return received() > 20; }, 20s));
        kill(static_cast<pid_t>(first.Pid()), SIGKILL);
        first.WaitForExit();
        for (const auto& e : fs::directory_iterator(archive_))
            if (e.path().extension() == ".pushed") cursorPath = e.path().string();
    }
    std::this_thread::sleep_for(500ms); // a request cut short is done with on the server's side
    const long sentBefore = received();
    const std::string archivePath = cursorPath.substr(0, cursorPath.size() - 7);
    vg57::TPushCursor cursor;
    ASSERT_TRUE(vg57::ReadCursor(archivePath, cursor));
    const std::size_t offset = cursor.offset;
    std::ifstream archived(archivePath, std::ios::binary);
    std::string pushedBytes(offset, '\0');
    archived.read(pushedBytes.data(), static_cast<std::streamsize>(offset));
    const long acknowledged = std::count(pushedBytes.begin(), pushedBytes.end(), '\n');
    ASSERT_GT(acknowledged, 10);

    std::this_thread::sleep_for(600ms); // a new file, named a second later
    CliProcess second(LogArgs(), sim.ConfigHome());
    ASSERT_FALSE(second.WaitForLine("архив:").empty()) << second.Stderr();
    std::this_thread::sleep_for(3s);
    kill(static_cast<pid_t>(second.Pid()), SIGINT);
    ASSERT_EQ(second.WaitForExit(), 0);
    Backfill(archive_, influx_.Url());
    const std::map<qint64, double> all = ArchivedReadings(archive_);
    EXPECT_EQ(StoredReadings(influx_), all);
    EXPECT_EQ(received(), sentBefore + static_cast<long>(all.size()) - acknowledged)
        << "points received by the server: each past the cursor once, none before it again";
}

TEST(PushMqtt, statesAreSeenTheLastStaysRetainedAndOfflineFollowsADeadLogger) {
    const QString broker = QStandardPaths::findExecutable(
        "mosquitto", {"/usr/sbin", "/usr/local/sbin", "/usr/bin", "/usr/local/bin"});
    if (broker.isEmpty() || QStandardPaths::findExecutable("mosquitto_sub").isEmpty())
        GTEST_SKIP() << "mosquitto is not installed (./test.sh installs mosquitto and its clients)";
    qputenv("TZ", kZone);
    TempDir work;
    const int port = FreeLoopbackPort();
    std::ofstream(work.Path() + "/mosquitto.conf")
        << "listener " << port
        << " 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n";
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(broker, {"-c", QString::fromStdString(work.Path() + "/mosquitto.conf")});
    ASSERT_TRUE(server.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        server.terminate();
        if (!server.waitForFinished(10000)) server.kill();
    });
    // Started is not listening: a subscriber that comes first is refused and sees nothing.
    ASSERT_TRUE(Eventually(
        [&] {
            const int fd = ConnectLoopback(port);
            if (fd >= 0) close(fd);
            return fd >= 0;
        },
        10s));
    // The first message on a topic, as mosquitto_sub prints it; empty when none came in time.
    const auto first = [&](const QString& topic) {
        QProcess sub;
        sub.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic,
                                    "-C", "1", "-W", "10"});
        sub.waitForFinished(15000);
        return QJsonDocument::fromJson(sub.readAllStandardOutput()).object();
    };

    SimProcess sim({"--com", "3"});
    constexpr int kKeepAlive = 5; // the least the library takes
    CliProcess cli({"log", "--port", "COM3", "--interval", "0.1", "--archive-dir",
                    QString::fromStdString(work.Path() + "/archive"), "--mqtt",
                    QString("127.0.0.1:%1").arg(port), "--mqtt-keepalive",
                    QString::number(kKeepAlive), "--mqtt-discovery", "--metrics-label",
                    "system=chamber-2"},
                   sim.ConfigHome());
    const QJsonObject state = first("vg57/chamber-2/0/state");
    EXPECT_EQ(state["unit"].toString(), "Pa");
    EXPECT_GT(state["pressure"].toDouble(), 0);
    EXPECT_EQ(state["pascals"].toDouble(), state["pressure"].toDouble());
    EXPECT_EQ(state["stale"], false);
    const QDateTime time = QDateTime::fromString(state["time"].toString(), Qt::ISODateWithMs);
    EXPECT_TRUE(state["time"].toString().endsWith("+01:00"))
        << state["time"].toString().toStdString();
    EXPECT_LT(std::abs(time.msecsTo(QDateTime::currentDateTimeUtc())), 5000);
    const QJsonObject config = first("homeassistant/sensor/+/config");
    EXPECT_EQ(config["device_class"].toString(), "pressure");
    EXPECT_EQ(config["unit_of_measurement"].toString(), "Pa");
    EXPECT_EQ(config["availability_topic"].toString(), "vg57/chamber-2/0/status");

    // Silent: one state says stale, and a subscriber connecting afterwards still gets it.
    sim.Command("silent on");
    ASSERT_TRUE(Eventually([&] { return first("vg57/chamber-2/0/state")["stale"] == true; }, 20s));
    EXPECT_EQ(first("vg57/chamber-2/0/state")["stale"], true);

    QProcess status;
    status.start("mosquitto_sub",
                 {"-h", "127.0.0.1", "-p", QString::number(port), "-t", "vg57/chamber-2/0/status"});
    QByteArray seen;
    ASSERT_TRUE(Eventually(
        [&] {
            status.waitForReadyRead(50);
            return (seen += status.readAllStandardOutput()).contains("online");
        },
        10s));
    QElapsedTimer sinceKill;
    kill(static_cast<pid_t>(cli.Pid()), SIGKILL);
    sinceKill.start();
    ASSERT_TRUE(Eventually(
        [&] {
            status.waitForReadyRead(20);
            return (seen += status.readAllStandardOutput()).contains("offline");
        },
        10s));
    EXPECT_LE(sinceKill.elapsed(), 1500 * kKeepAlive) << "the will came too late";
    status.kill();
    status.waitForFinished(5000);
}
