#include "PushAuth.h"

#include <algorithm>
#include <fstream>

namespace vg57 {

namespace {

std::string Trimmed(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

} // namespace

bool ReadAuthFile(const std::string& path, const std::vector<std::string>& allowed,
                  std::map<std::string, std::string>& values, std::string& reason) {
    values.clear();
    std::ifstream in(path);
    if (!in) return reason = "can't read " + path, false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : Trimmed(line.substr(0, eq));
        if (eq == std::string::npos ||
            std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            std::string keys;
            for (const std::string& k : allowed)
                keys += (keys.empty() ? "" : ", ") + k;
            reason =
                path + ":" + std::to_string(number) + ": expected KEY = VALUE with one of " + keys;
            return false;
        }
        values[key] = Trimmed(line.substr(eq + 1));
    }
    return true;
}

} // namespace vg57
