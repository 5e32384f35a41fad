// Runs vg57-sim as a child process with its own port map folder, and talks to it: commands on
// its standard input, and a client on its pseudo-terminal written from the gauge's command table.
#pragma once

#include "TempDir.h"

#include <string>
#include <vector>

namespace vg57::test {

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args = {});
    ~SimProcess();

    // Sends a control command and waits for its answer line; returns that line.
    std::string Command(const std::string& line);
    // Ends the simulator with a signal and waits for it; returns its exit status.
    int Terminate(int signal);
    const std::string& PortsDir() const { return portsDir_; }
    // The XDG_CONFIG_HOME the simulator publishes its port in.
    const std::string& ConfigHome() const { return home_.Path(); }
    std::string LinkPath(int com = 3) const { return portsDir_ + "/COM" + std::to_string(com); }
    std::string ReadLine(int timeoutMs = 3000);

private:
    TempDir home_;
    std::string portsDir_;
    int pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string buffered_;
};

// The program's side of the line: a raw client on the published COM link.
class LineClient {
public:
    explicit LineClient(const std::string& path);
    ~LineClient();
    // Writes 0x02, address, command, 0x0D and returns the bytes that arrive within timeoutMs
    // (stopping early after a 0x0D).
    std::string Exchange(char address, const std::string& command, int timeoutMs = 1000);
    // The payload of one reply (between 0x02 and 0x0D), or "(none)".
    std::string Ask(const std::string& command, char address = '0');
    void WriteRaw(const std::string& bytes);
    std::string Read(int timeoutMs, bool untilCr = true);
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The bytes a simulator started with "--log <logPath>" has received so far (its RX lines), and
// the frame payloads in a byte stream: what lies between 0x02 and 0x0D ("0R1", ...).
std::string LoggedRequestBytes(const std::string& logPath);
std::vector<std::string> Frames(const std::string& bytes);

} // namespace vg57::test
