// vg57-sim's command line, and the number parsing its control commands share with it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vg57sim {

struct Options {
    int com = 3;
    std::vector<char> addresses{'0'}; // one gauge per address, in this order
    std::string logPath;
    double speed = 1.0;
    double startPa = 1.0e5;
    bool wire = false; // pace characters and share the line as one half-duplex pair would
    bool echo = false; // the adapter hands every request back as it goes out
    int baud = 9600;
    bool parity = true; // odd, even, mark or space: one more bit per character
    int stopBits = 1;
};

// Exits 0 after --help, 2 with a reason on stderr for a bad command line.
Options ParseOptions(int argc, char** argv);

[[noreturn]] void Fail(const std::string& message);

bool ValidAddress(char c);
// Numbers as the C locale writes them, whatever the environment says; the whole text must be
// the number.
std::optional<double> ParseReal(const std::string& text);
std::optional<int> ParseInt(const std::string& text);
std::string FormatReal(double v);

} // namespace vg57sim
