#include "Options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vg57sim {

namespace {

const char kHelp[] = R"(vg57-sim: plays VG-57 wide-range vacuum gauges on a pseudo-terminal.

Usage: vg57-sim [--com N] [--address C | --addresses LIST] [--log FILE] [--speed X]
                [--pressure PA] [--wire] [--echo] [--baud N] [--parity P] [--stop-bits N]
                [--help]

  --com N          publish the line as COM<N> (1..255, default 3) in the port map folder
                   $XDG_CONFIG_HOME/vg57/ports (default ~/.config/vg57/ports); a COM<N> link
                   there to a real device is never replaced
  --address C      RS-485 address, one of 0123456789ABCDEF (default 0)
  --addresses LIST several gauges on the one line, e.g. 0,1,5: each with its own chamber, set
                   points, unit and faults
  --log FILE       append every request received and reply sent, one line each with a time
                   stamp, flushed at once: "RX" and "TX" lines give the raw bytes in hex and as
                   text, and a "REQ" line gives each whole request's text, e.g. "REQ 0W10002"
  --speed X        run the chambers X times faster than real time (above 0, up to 1E6;
                   default 1)
  --pressure PA    start pressure in pascals (default 1.0E5, atmosphere); the chambers pump
                   down towards about 1E-5 Pa
  --wire           a real line's timing: every character takes its bit times at --baud (11 at
                   9600 8O1), requests as well as replies, and the line is half duplex: a gauge
                   answers only after the request has passed, a gauge's replies leave one after
                   another, each after its own delay, and two talkers at once (two gauges, or a
                   gauge and the program) collide: every receiver gets garbage (bytes with the
                   high bit set, never a frame's 0x02 or 0x0D), and a garbled request is not
                   answered
  --echo           the adapter's receiver stays on while it sends: every byte written comes
                   back as it was, and the gauge answers 3 ms after the request's end; with no
                   gauge answering, only the echo comes back
  --baud N         the line's rate for --wire, bits per second (default 9600)
  --parity P       none, odd, even, mark or space, for --wire (default odd)
  --stop-bits N    1 or 2, for --wire (default 1); the character has 8 data bits
  --help           this text

The gauge answers S3 (short acknowledgement), R1 (unit), S1 (pressure), R2..R4 (set points),
W1 (unit), W2..W4 (set points), C1 (atmosphere calibration: succeeds at or above 5.0E4 Pa,
else result 0001) and C2 (zero calibration: succeeds at or below 1.0E-1 Pa, else result 0002).
Set points are kept as the numbers written: a change of unit leaves them as they are, so that
they then mean that many of the new unit. Frames for other addresses and bytes outside frames
get no answer.

Commands on standard input, one per line (each answered on standard output). With several
gauges, "@C command" gives a gauge's command to the gauge at address C alone (e.g. "@5 silent
on", "@1 vent"); without the prefix it goes to every gauge:
  pump | vent | hold          start pumping, let air in, or freeze the pressure
  pressure PA                 set the pressure (pascals, 0 or more)
  leak PA_PER_S               isolate the chamber: the pressure rises steadily by PA_PER_S
                              pascals a second (a pressure-rise leak test), until pump or vent
  noise on|off                1 % noise on the pressure while pumping or venting
  silent on|off               answer nothing
  echo C | echo off           reply with the echo letter C instead of the right one
  length N | length off       add N characters to each reply (negative N removes them)
  corrupt P C | corrupt off   put character C at position P (from 1) of each reply's payload
  garbage on|off              send random bytes (never 0x02) before each reply
  split N MS | split off      send each reply in N pieces, MS milliseconds apart
  delay MS | delay off        wait MS milliseconds before replying (2200+ times the program out)
  delay MS once               wait MS milliseconds before the next reply only, then as before
                              (replies still leave in the order of their requests)
                              (a command with a malformed number is refused and changes nothing)
  noend on|off                send replies without their end byte 0x0D
  address C                   answer to another address from now on (with several gauges,
                              only with a prefix, and not to an address another gauge has)
  status                      print the state (each gauge's, or the prefixed one's)
Commands for the whole line (no prefix):
  unplug                      close the pseudo-terminal and remove the COM link, as a pulled
                              USB adapter
  replug                      a new pseudo-terminal, published again under the COM link
  quit                        end (also on SIGINT and SIGTERM); the COM link is removed
)";

// Beyond this a second of real time is more than eleven days of chamber time: nothing to see.
constexpr double kMaxSpeed = 1.0e6;

std::vector<char> ParseAddresses(const std::string& list) {
    std::vector<char> out;
    for (std::size_t at = 0; at <= list.size();) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        const std::string one = list.substr(at, comma - at);
        if (one.size() != 1 || !ValidAddress(one[0]))
            Fail("invalid address '" + one + "' in '" + list +
                 "': use one of 0123456789ABCDEF, separated by commas");
        for (char seen : out)
            if (seen == one[0]) Fail("address " + one + " given twice in '" + list + "'");
        out.push_back(one[0]);
        at = comma + 1;
    }
    return out;
}

} // namespace

void Fail(const std::string& message) {
    std::fprintf(stderr, "vg57-sim: %s\n", message.c_str());
    std::exit(2);
}

bool ValidAddress(char c) {
    return c != 0 && std::strchr("0123456789ABCDEF", c) != nullptr;
}

std::optional<double> ParseReal(const std::string& text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> ParseInt(const std::string& text) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

std::string FormatReal(double v) {
    char buf[32];
    return std::string(
        buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 3).ptr);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    bool addressGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(a + " needs a value (see --help)");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (a == "--com") {
            const std::string v = value();
            const auto n = ParseInt(v);
            if (!n || *n < 1 || *n > 255) Fail("invalid COM number '" + v + "': use 1..255");
            o.com = *n;
        } else if (a == "--address" || a == "--addresses") {
            if (addressGiven) Fail("give the gauges' addresses once (--address or --addresses)");
            addressGiven = true;
            const std::string v = value();
            if (a == "--address" && (v.size() != 1 || !ValidAddress(v[0])))
                Fail("invalid address '" + v + "': use one of 0123456789ABCDEF");
            o.addresses = ParseAddresses(v);
        } else if (a == "--log") {
            o.logPath = value();
        } else if (a == "--speed") {
            const std::string v = value();
            const auto speed = ParseReal(v);
            if (!speed || !(*speed > 0) || *speed > kMaxSpeed)
                Fail("invalid --speed '" + v + "': use a number above 0 and up to 1E6");
            o.speed = *speed;
        } else if (a == "--pressure") {
            const std::string v = value();
            const auto pa = ParseReal(v);
            if (!pa || *pa < 0) Fail("invalid --pressure '" + v + "': use pascals, 0 or more");
            o.startPa = *pa;
        } else if (a == "--wire") {
            o.wire = true;
        } else if (a == "--echo") {
            o.echo = true;
        } else if (a == "--baud") {
            const std::string v = value();
            const auto n = ParseInt(v);
            if (!n || *n < 50 || *n > 4'000'000)
                Fail("invalid --baud '" + v + "': use 50..4000000 bits per second");
            o.baud = *n;
        } else if (a == "--parity") {
            const std::string v = value();
            if (v != "none" && v != "odd" && v != "even" && v != "mark" && v != "space")
                Fail("invalid --parity '" + v + "': use none, odd, even, mark or space");
            o.parity = v != "none";
        } else if (a == "--stop-bits") {
            const std::string v = value();
            if (v != "1" && v != "2") Fail("invalid --stop-bits '" + v + "': use 1 or 2");
            o.stopBits = v[0] - '0';
        } else {
            Fail("unknown option '" + a + "' (see --help)");
        }
    }
    return o;
}

} // namespace vg57sim
