// Credentials for the pushes, from a file only (a command line is visible to every user of the
// machine): one "key = value" a line, '#' starts a comment.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vg57 {

// The file's keys; false with a reason naming the file and the line when it can't be read, is
// malformed or holds a key not in `allowed`.
bool ReadAuthFile(const std::string& path, const std::vector<std::string>& allowed,
                  std::map<std::string, std::string>& values, std::string& reason);

} // namespace vg57
