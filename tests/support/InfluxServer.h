// An InfluxDB 1.x server of the test's own: its data in a given folder, its HTTP API on a free
// port of 127.0.0.1, stopped with the object. For the push tests and the push benchmark.
#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>

#include <string>

namespace vg57::test {

class TInfluxServer {
public:
    // Writes the configuration into `dir`; nothing runs yet.
    explicit TInfluxServer(const std::string& dir);
    ~TInfluxServer();
    TInfluxServer(const TInfluxServer&) = delete;
    TInfluxServer& operator=(const TInfluxServer&) = delete;

    // Starts influxd and waits (30 s at most) until it answers /ping.
    bool Start();
    void Stop();
    // The first series' rows of the statement's first result (times in ms); empty on failure.
    QJsonArray Query(const std::string& statement);
    // The write URL of the database "lab".
    QString Url() const;
    int Port() const { return port_; }
    // The server's process id while it runs, else 0.
    qint64 Pid() const { return process_.processId(); }

private:
    std::string dir_;
    int port_;
    QProcess process_;
};

} // namespace vg57::test
