#include "CliProcess.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>

namespace vg57::test {

CliProcess::CliProcess(const QStringList& args, const std::string& configHome,
                       const QStringList& environment) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!configHome.empty()) {
        // The port map, and the documents folder the default archive folder is made in.
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
        env.insert("HOME", QString::fromStdString(configHome));
    }
    for (const QString& pair : environment)
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(VG57_CLI_PATH, args);
    process_.waitForStarted(5000);
}

CliProcess::~CliProcess() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
}

std::string CliProcess::WaitForLine(const std::string& part, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        stderr_ += process_.readAllStandardError().toStdString();
        for (std::size_t at = 0, nl; (nl = stderr_.find('\n', at)) != std::string::npos;
             at = nl + 1)
            if (const std::string line = stderr_.substr(at, nl - at);
                line.find(part) != std::string::npos)
                return line;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || process_.state() == QProcess::NotRunning) return {};
        process_.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 200)));
    }
}

int CliProcess::WaitForExit(int timeoutMs) {
    const bool ended = process_.waitForFinished(timeoutMs);
    stderr_ += process_.readAllStandardError().toStdString();
    if (!ended || process_.exitStatus() != QProcess::NormalExit) return -1;
    return process_.exitCode();
}

} // namespace vg57::test
