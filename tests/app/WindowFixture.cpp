#include "WindowFixture.h"

namespace vg57::test {

std::vector<std::string> WindowFixture::Requests() const {
    std::vector<std::string> out = Frames(LoggedRequestBytes(home.Path() + "/sim.log"));
    for (std::string& frame : out)
        frame.erase(0, 1); // the address
    return out;
}

} // namespace vg57::test
