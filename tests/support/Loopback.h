// Sockets on 127.0.0.1 for the tests and benchmarks that start servers or act as their clients:
// nothing of theirs ever leaves this machine.
#pragma once

namespace vg57::test {

// A port that was free on 127.0.0.1 a moment ago (bound and released), for a server to take.
int FreeLoopbackPort();
// A connected TCP socket to 127.0.0.1:port (close-on-exec); -1 when it can't connect.
int ConnectLoopback(int port);

} // namespace vg57::test
