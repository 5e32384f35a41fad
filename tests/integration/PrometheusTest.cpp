// Debian's Prometheus server scrapes vg57-cli log on the gauge simulator, and what it stored is
// read back through its HTTP API: the pressure as the simulator holds it, then staleness and a
// gauge that is down once the simulator falls silent. Loopback only; every loop is bounded.
#include "CliProcess.h"
#include "Loopback.h"
#include "SimProcess.h"
#include "TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vg57::test;
using namespace std::chrono_literals;

namespace {

// The instant query's samples: each series' value, or nothing when the query failed.
std::optional<std::vector<double>> Query(httplib::Client& api, const std::string& expr) {
    const auto res = api.Get(("/api/v1/query?query=" + expr).c_str());
    if (!res || res->status != 200) return std::nullopt;
    const QJsonObject data =
        QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()["data"].toObject();
    std::vector<double> values;
    for (const QJsonValue& series : data["result"].toArray())
        values.push_back(series.toObject()["value"].toArray()[1].toString().toDouble());
    return values;
}

// Polls until `done` holds, at most `limit`.
template <class F> bool Eventually(F done, std::chrono::seconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(250ms))
        if (done()) return true;
    return false;
}

} // namespace

TEST(Prometheus, scrapesThePressureAsHeldThenSeesItStaleAndTheGaugeDown) {
    const QString server = QStandardPaths::findExecutable("prometheus");
    if (server.isEmpty())
        GTEST_SKIP() << "the prometheus server is not installed (./test.sh installs it)";

    SimProcess sim({"--com", "3"});
    for (const char* command : {"hold", "noise off", "pressure 1200"})
        sim.Command(command);
    TempDir work;
    CliProcess cli({"log", "--port", "COM3", "--interval", "0.2", "--archive-dir",
                    QString::fromStdString(work.Path() + "/archive"), "--metrics", "127.0.0.1:0",
                    "--metrics-label", "system=chamber-2"},
                   sim.ConfigHome());
    const std::string line = cli.WaitForLine("/metrics");
    ASSERT_FALSE(line.empty()) << cli.Stderr();
    const int metricsPort = std::stoi(line.substr(line.rfind(':') + 1));

    // The exposition as served passes the format's own checker without a remark.
    httplib::Client exporter("127.0.0.1", metricsPort);
    ASSERT_TRUE(Eventually([&] { return exporter.Get("/metrics") != nullptr; }, 10s));
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStandardPaths::findExecutable("promtool"), {"check", "metrics"});
    promtool.write(QByteArray::fromStdString(exporter.Get("/metrics")->body));
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(10000));
    EXPECT_EQ(promtool.exitCode(), 0);
    EXPECT_EQ(promtool.readAll().toStdString(), "");

    const int apiPort = FreeLoopbackPort();
    {
        std::ofstream config(work.Path() + "/prometheus.yml");
        config << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
               << "scrape_configs:\n  - job_name: vg57\n    static_configs:\n"
               << "      - targets: ['127.0.0.1:" << metricsPort << "']\n";
    }
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prometheus.start(server,
                     {"--config.file=" + QString::fromStdString(work.Path()) + "/prometheus.yml",
                      "--storage.tsdb.path=" + QString::fromStdString(work.Path()) + "/tsdb",
                      "--web.listen-address=127.0.0.1:" + QString::number(apiPort),
                      "--log.level=error"});
    ASSERT_TRUE(prometheus.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        prometheus.terminate();
        if (!prometheus.waitForFinished(10000)) prometheus.kill();
    });
    httplib::Client api("127.0.0.1", apiPort);

    std::vector<double> pressure;
    ASSERT_TRUE(Eventually(
        [&] {
            pressure = Query(api, "vg57_pressure_pascals").value_or(std::vector<double>{});
            return !pressure.empty();
        },
        60s))
        << "no pressure stored";
    ASSERT_EQ(pressure.size(), 1u);
    EXPECT_LE(std::abs(pressure[0] - 1200) / 1200, 1e-9) << pressure[0];
    const auto up = Query(api, "vg57_device_up{system=\"chamber-2\"}");
    ASSERT_TRUE(up && up->size() == 1u);
    EXPECT_EQ((*up)[0], 1);

    sim.Command("silent on");
    EXPECT_TRUE(Eventually(
        [&] {
            const auto p = Query(api, "vg57_pressure_pascals");
            const auto d = Query(api, "vg57_device_up");
            return p && p->empty() && d && d->size() == 1u && (*d)[0] == 0;
        },
        30s))
        << "the pressure did not go stale, or the gauge was not reported down";
}
