// A pseudo-terminal pair for tests: the test keeps the master side (the "far end": gauge, cable
// and adapter); the code under test opens the slave by its path like any serial device. The
// slave is never made raw here, so a port that forgot raw mode would show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vg57::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }

    void Write(const std::string& bytes);
    void Write(const std::vector<std::uint8_t>& bytes);
    // Reads what arrives within timeoutMs, stopping early once `want` bytes are in (0: no stop).
    std::string Read(int timeoutMs, std::size_t want = 0);
    // Closes the master side: for the slave this is a pulled USB adapter.
    void CloseMaster();

private:
    int master_ = -1;
    std::string slave_;
};

// A frame of the gauge's line: 0x02, the payload, 0x0D.
inline std::string Frame(const std::string& payload) {
    return std::string(1, '\x02') + payload + '\r';
}

// CPU time of the whole process in microseconds (user + system, all threads).
std::int64_t ProcessCpuMicros();

} // namespace vg57::test
