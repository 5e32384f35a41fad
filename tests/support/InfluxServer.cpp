#include "InfluxServer.h"

#include "Loopback.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace vg57::test {

TInfluxServer::TInfluxServer(const std::string& dir) : dir_(dir), port_(FreeLoopbackPort()) {
    // No reporting home, no monitor store, no body limit (a backfill's batches are large).
    std::ofstream(dir + "/influxdb.conf")
        << "reporting-disabled = true\nbind-address = \"127.0.0.1:" << FreeLoopbackPort()
        << "\"\n[meta]\n  dir = \"" << dir << "/meta\"\n[data]\n  dir = \"" << dir
        << "/data\"\n  wal-dir = \"" << dir << "/wal\"\n  query-log-enabled = false\n"
        << "[http]\n  bind-address = \"127.0.0.1:" << port_ << "\"\n  log-enabled = false\n"
        << "  max-body-size = 0\n[monitor]\n  store-enabled = false\n[logging]\n"
        << "  level = \"error\"\n";
}

TInfluxServer::~TInfluxServer() {
    Stop();
}

bool TInfluxServer::Start() {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start("influxd", {"-config", QString::fromStdString(dir_ + "/influxdb.conf")});
    if (!process_.waitForStarted(10000)) return false;
    httplib::Client c("127.0.0.1", port_);
    for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        if (const auto r = c.Get("/ping"); r && r->status == 204) return true;
    return false;
}

void TInfluxServer::Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(30000)) process_.kill();
    process_.waitForFinished(5000);
}

QJsonArray TInfluxServer::Query(const std::string& statement) {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(120, 0); // a count over millions of points
    const auto r = c.Post("/query?db=lab&epoch=ms", httplib::Params{{"q", statement}});
    // Named at each step: Qt's references into temporaries dangle.
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r ? r->body : ""));
    const QJsonArray results = doc.object()["results"].toArray();
    const QJsonObject result = results.isEmpty() ? QJsonObject() : results.at(0).toObject();
    const QJsonArray series = result["series"].toArray();
    return series.isEmpty() ? QJsonArray() : series.at(0).toObject()["values"].toArray();
}

QString TInfluxServer::Url() const {
    return QString("http://127.0.0.1:%1/write?db=lab").arg(port_);
}

} // namespace vg57::test
