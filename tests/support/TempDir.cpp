#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vg57::test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vg57-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

TempPortMap::TempPortMap() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
        hadXdg_ = true;
        oldXdg_ = old;
    }
    setenv("XDG_CONFIG_HOME", home_.Path().c_str(), 1);
    fs::create_directories(Dir());
}

TempPortMap::~TempPortMap() {
    if (hadXdg_)
        setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

std::string TempPortMap::Dir() const {
    return home_.Path() + "/vg57/ports";
}

void TempPortMap::Link(int number, const std::string& device) {
    const fs::path link = fs::path(Dir()) / ("COM" + std::to_string(number));
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(device, link);
}

} // namespace vg57::test
