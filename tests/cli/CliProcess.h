// vg57-cli as a child process: started with the simulator's port map, its stderr lines read.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace vg57::test {

class CliProcess {
public:
    // Starts `vg57-cli args...` with XDG_CONFIG_HOME and HOME set to `configHome` (if given).
    CliProcess(const QStringList& args, const std::string& configHome = {},
               const QStringList& environment = {});
    ~CliProcess();
    // Waits for a stderr line containing `part` and returns it; empty on time-out or exit.
    std::string WaitForLine(const std::string& part, int timeoutMs = 10000);
    // Waits for the exit; returns the exit code, or -1 when it did not end in time or crashed.
    int WaitForExit(int timeoutMs = 10000);
    // Stops reading its stderr: its writes then find no reader (SIGPIPE, EPIPE).
    void CloseStderr() { process_.closeReadChannel(QProcess::StandardError); }
    qint64 Pid() const { return process_.processId(); }
    const std::string& Stderr() const { return stderr_; }

private:
    QProcess process_;
    std::string stderr_;
};

} // namespace vg57::test
