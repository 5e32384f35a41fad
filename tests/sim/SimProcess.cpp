#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace vg57::test {

SimProcess::SimProcess(std::vector<std::string> args) {
    portsDir_ = home_.Path() + "/vg57/ports";
    int inPipe[2], outPipe[2];
    if (pipe(inPipe) || pipe(outPipe)) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        close(inPipe[1]);
        close(outPipe[0]);
        setenv("XDG_CONFIG_HOME", home_.Path().c_str(), 1);
        std::vector<char*> argv;
        std::string path = VG57_SIM_PATH;
        argv.push_back(path.data());
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    for (std::string line; (line = ReadLine()) != "ready";)
        if (line.empty()) throw std::runtime_error("the simulator did not start");
}

SimProcess::~SimProcess() {
    if (pid_ > 0) Terminate(SIGTERM);
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
}

std::string SimProcess::ReadLine(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto nl = buffered_.find('\n'); nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return {};
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[512];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return {};
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
    return ReadLine();
}

int SimProcess::Terminate(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

LineClient::LineClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
}

LineClient::~LineClient() {
    if (fd_ >= 0) close(fd_);
}

void LineClient::WriteRaw(const std::string& bytes) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("write to the simulator failed");
}

std::string LineClient::Read(int timeoutMs, bool untilCr) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char buf[256];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            if (untilCr && out.find('\r') != std::string::npos) return out;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || (n == 0) || (n < 0 && errno != EAGAIN)) return out;
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
}

std::string LineClient::Exchange(char address, const std::string& command, int timeoutMs) {
    WriteRaw(std::string("\x02") + address + command + "\r");
    return Read(timeoutMs);
}

std::string LineClient::Ask(const std::string& command, char address) {
    const std::string raw = Exchange(address, command);
    const auto start = raw.find('\x02');
    const auto end = raw.find('\r', start == std::string::npos ? 0 : start);
    if (start == std::string::npos || end == std::string::npos) return "(none)";
    return raw.substr(start + 1, end - start - 1);
}

std::string LoggedRequestBytes(const std::string& logPath) {
    // Lines "<time> RX 02 30 52 31 0D  "..."": the hex is exact.
    std::ifstream log(logPath);
    std::string bytes;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string stamp, dir, hex;
        fields >> stamp >> dir;
        if (dir != "RX") continue;
        while (fields >> hex && hex.size() == 2)
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
    }
    return bytes;
}

std::vector<std::string> Frames(const std::string& bytes) {
    std::vector<std::string> frames;
    std::string current;
    bool in = false;
    for (char c : bytes) {
        if (c == '\x02') {
            in = true;
            current.clear();
        } else if (in && c == '\r') {
            frames.push_back(current);
            in = false;
        } else if (in) {
            current += c;
        }
    }
    return frames;
}

} // namespace vg57::test
