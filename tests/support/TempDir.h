// A temporary folder removed with its contents at the end of the test, and a port map folder
// inside it (XDG_CONFIG_HOME points there while the object lives).
#pragma once

#include <string>

namespace vg57::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

class TempPortMap {
public:
    TempPortMap();
    ~TempPortMap();
    // Points COM<number> at a device.
    void Link(int number, const std::string& device);
    std::string Dir() const;

private:
    TempDir home_;
    std::string oldXdg_;
    bool hadXdg_ = false;
};

} // namespace vg57::test
