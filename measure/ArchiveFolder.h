// Where archives go: "VG-57" in the user's documents folder, created at start-up, so that the
// open-file dialog starts where the archives are.
#pragma once

#include <string>

namespace vg57 {

struct TArchiveFolder {
    std::string path;
    // Why the home folder is used instead, for the status bar; empty when all went well.
    std::string problem;
};

// Creates the folder when missing. Falls back to the home folder when it cannot be made.
TArchiveFolder PrepareArchiveFolder();

} // namespace vg57
