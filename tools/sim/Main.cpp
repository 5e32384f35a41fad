// vg57-sim: a VG-57 gauge on a pseudo-terminal, published as COM<n> in the port map folder.
#include "GaugeModel.h"
#include "Protocol.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vg57sim;

namespace {

const char kHelp[] = R"(vg57-sim: plays a VG-57 wide-range vacuum gauge on a pseudo-terminal.

Usage: vg57-sim [--com N] [--address C] [--log FILE] [--speed X] [--pressure PA] [--help]

  --com N        publish the gauge as COM<N> (1..255, default 3) in the port map folder
                 $XDG_CONFIG_HOME/vg57/ports (default ~/.config/vg57/ports); a COM<N> link
                 there to a real device is never replaced
  --address C    RS-485 address, one of 0123456789ABCDEF (default 0)
  --log FILE     append every request received and reply sent, one line each with a time
                 stamp, flushed at once: "RX" and "TX" lines give the raw bytes in hex and as
                 text, and a "REQ" line gives each whole request's text, e.g. "REQ 0W10002"
  --speed X      run the chamber X times faster than real time (above 0, up to 1E6; default 1)
  --pressure PA  start pressure in pascals (default 1.0E5, atmosphere); the chamber pumps down
                 towards about 1E-5 Pa
  --help         this text

The gauge answers S3 (short acknowledgement), R1 (unit), S1 (pressure), R2..R4 (set points),
W1 (unit), W2..W4 (set points), C1 (atmosphere calibration: succeeds at or above 5.0E4 Pa,
else result 0001) and C2 (zero calibration: succeeds at or below 1.0E-1 Pa, else result 0002).
Frames for other addresses and bytes outside frames get no answer.

Commands on standard input, one per line (each answered on standard output):
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
  address C                   answer to another address from now on
  unplug                      close the pseudo-terminal and remove the COM link, as a pulled
                              USB adapter
  replug                      a new pseudo-terminal, published again under the COM link
  status                      print the state
  quit                        end (also on SIGINT and SIGTERM); the COM link is removed
)";

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string WallStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", std::localtime(&t));
    char out[80];
    std::snprintf(out, sizeof out, "%s.%03d", buf, static_cast<int>(ms));
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// Numbers as the C locale writes them, whatever the environment says; the whole text must be
// the number.
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

// Beyond this a second of real time is more than eleven days of chamber time: nothing to see.
constexpr double kMaxSpeed = 1.0e6;

struct Options {
    int com = 3;
    char address = '0';
    std::string logPath;
    double speed = 1.0;
    double startPa = 1.0e5;
};

struct Faults {
    bool silent = false;
    char echo = 0; // 0: the right letter
    int lengthDelta = 0;
    int corruptAt = 0; // 1-based position in the payload; 0: none
    char corruptWith = 0;
    bool garbage = false;
    int splitPieces = 1;
    int splitDelayMs = 0;
    int delayMs = 0;
    int delayOnceMs = -1; // the next reply's delay; -1: none
    bool noEnd = false;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "vg57-sim: %s\n", message.c_str());
    std::exit(2);
}

bool ValidAddress(char c) {
    return std::strchr("0123456789ABCDEF", c) != nullptr && c != 0;
}

Options Parse(int argc, char** argv) {
    Options o;
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
        } else if (a == "--address") {
            const std::string v = value();
            if (v.size() != 1 || !ValidAddress(v[0]))
                Fail("invalid address '" + v + "': use one of 0123456789ABCDEF");
            o.address = v[0];
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
        } else {
            Fail("unknown option '" + a + "' (see --help)");
        }
    }
    return o;
}

class Simulator {
public:
    explicit Simulator(const Options& o) : opt_(o), gauge_(o.startPa), address_(o.address) {
        if (!o.logPath.empty()) {
            log_.open(o.logPath, std::ios::app);
            if (!log_) Fail("cannot write the log file " + o.logPath + ": " + std::strerror(errno));
        }
        linkDir_ = PortMapDir();
        std::error_code ec;
        fs::create_directories(linkDir_, ec);
        if (ec)
            Fail("cannot create the port map folder " + linkDir_.string() + ": " + ec.message());
        link_ = linkDir_ / ("COM" + std::to_string(o.com));
        if (const std::string taken = LinkTaken(); !taken.empty()) Fail(taken);
        OpenPty();
        Publish();
        lastAdvance_ = NowMs();
    }
    ~Simulator() {
        Unpublish();
        ClosePty();
    }

    int Run() {
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGINT);
        sigaddset(&mask, SIGTERM);
        sigaddset(&mask, SIGHUP);
        sigprocmask(SIG_BLOCK, &mask, nullptr);
        const int sigFd = signalfd(-1, &mask, SFD_CLOEXEC);
        Say("vg57-sim: COM" + std::to_string(opt_.com) + " -> " + slavePath_ + " (address " +
            std::string(1, address_) + ")");
        Say("ready");
        bool stdinOpen = true;
        std::string input;
        while (!quit_) {
            pollfd fds[3] = {
                {master_, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}, {sigFd, POLLIN, 0}};
            // Nothing to wake up for but requests, commands, signals and scheduled reply pieces.
            int timeout = -1;
            if (!pending_.empty())
                timeout =
                    static_cast<int>(std::max<std::int64_t>(0, pending_.front().at - NowMs()));
            if (poll(fds, 3, timeout) < 0 && errno != EINTR)
                Fail(std::string("poll: ") + std::strerror(errno));
            if (fds[2].revents) break;
            if (master_ >= 0 && (fds[0].revents & POLLIN)) ReadRequests();
            if (fds[1].revents) {
                char buf[512];
                const ssize_t n = read(0, buf, sizeof buf);
                if (n <= 0) {
                    stdinOpen = false; // run on without commands (started in the background)
                } else {
                    input.append(buf, static_cast<std::size_t>(n));
                    for (std::size_t nl; (nl = input.find('\n')) != std::string::npos;) {
                        Command(input.substr(0, nl));
                        input.erase(0, nl + 1);
                    }
                }
            }
            SendDue();
        }
        if (sigFd >= 0) close(sigFd);
        return 0;
    }

private:
    static fs::path PortMapDir() {
        if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
            return fs::path(x) / "vg57/ports";
        const char* home = std::getenv("HOME");
        return fs::path(home && *home ? home : ".") / ".config/vg57/ports";
    }

    void OpenPty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            Fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        // Holding the slave open keeps the master from reporting a hang-up (and poll() from
        // spinning) while no program has the port open.
        slave_ = slave;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        slavePath_ = name;
    }

    void ClosePty() {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        master_ = slave_ = -1;
        pending_.clear();
    }

    void Publish() {
        // A new link under a temporary name, renamed over the old one: never a moment without.
        const fs::path tmp =
            linkDir_ / (".COM" + std::to_string(opt_.com) + ".tmp." + std::to_string(getpid()));
        std::error_code ec;
        fs::remove(tmp, ec);
        fs::create_symlink(slavePath_, tmp, ec);
        if (ec) Fail("cannot create " + tmp.string() + ": " + ec.message());
        fs::rename(tmp, link_, ec);
        if (ec) Fail("cannot publish " + link_.string() + ": " + ec.message());
    }

    void Unpublish() {
        std::error_code ec;
        if (fs::read_symlink(link_, ec) == fs::path(slavePath_)) fs::remove(link_, ec);
    }

    // Never take the name of a real adapter; a pseudo-terminal link is an earlier simulator.
    // Empty when the name is free to take.
    std::string LinkTaken() const {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(link_, ec))) return {};
        const std::string target = fs::read_symlink(link_, ec).string();
        if (target.rfind("/dev/pts/", 0) == 0) return {};
        return link_.string() + " already maps COM" + std::to_string(opt_.com) + " to " + target +
               ": choose another --com, or remove the link";
    }

    // A pulled adapter: its device goes, and so does its name. The kernel may give the freed
    // /dev/pts/N to another process, so a link left behind would point the program at it.
    void Unplug() {
        if (master_ < 0) return;
        Unpublish();
        ClosePty();
    }

    // Empty on success, else why not.
    std::string Replug() {
        if (master_ >= 0) return {};
        if (std::string taken = LinkTaken(); !taken.empty()) return taken;
        OpenPty();
        Publish();
        return {};
    }

    static std::string Printable(const std::string& bytes) {
        std::string text;
        for (unsigned char c : bytes)
            text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
        return text;
    }

    // Flushed per line: a test reads the log while the simulator runs.
    void LogLine(const std::string& line) {
        if (!log_) return;
        log_ << WallStamp() << ' ' << line << '\n';
        log_.flush();
    }

    // Hex for exactness, then the text for reading (other bytes as '.').
    void Log(const char* dir, const std::string& bytes) {
        if (log_) LogLine(std::string(dir) + ' ' + Hex(bytes) + "  \"" + Printable(bytes) + '"');
    }

    void Say(const std::string& line) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    }

    void ReadRequests() {
        char buf[512];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;
        const std::string bytes(buf, static_cast<std::size_t>(n));
        Log("RX", bytes);
        for (const auto& request : framer_.Feed(bytes)) {
            LogLine("REQ " + Printable(request));
            gauge_.Advance((NowMs() - lastAdvance_) / 1000.0 * opt_.speed);
            lastAdvance_ = NowMs();
            auto reply = Answer(gauge_, address_, request);
            if (!reply || faults_.silent) continue;
            Schedule(Frame(*reply));
        }
    }

    std::string Frame(std::string payload) {
        if (faults_.echo && payload.size() >= 2) payload[1] = faults_.echo;
        if (faults_.corruptAt > 0 && payload.size() >= static_cast<std::size_t>(faults_.corruptAt))
            payload[static_cast<std::size_t>(faults_.corruptAt - 1)] = faults_.corruptWith;
        if (faults_.lengthDelta > 0)
            payload.append(static_cast<std::size_t>(faults_.lengthDelta), '9');
        if (faults_.lengthDelta < 0)
            payload.resize(payload.size() -
                           std::min<std::size_t>(payload.size(),
                                                 static_cast<std::size_t>(-faults_.lengthDelta)));
        std::string frame;
        if (faults_.garbage) {
            std::uniform_int_distribution<int> len(1, 12), byte(0, 255);
            for (int i = len(rng_); i > 0; --i) {
                char c = static_cast<char>(byte(rng_));
                frame += c == kStx ? '\x7f' : c;
            }
        }
        frame += kStx + payload;
        if (!faults_.noEnd) frame += kCr;
        return frame;
    }

    void Schedule(const std::string& frame) {
        std::int64_t at =
            NowMs() + (faults_.delayOnceMs >= 0 ? faults_.delayOnceMs : faults_.delayMs);
        faults_.delayOnceMs = -1;
        // A gauge answers in turn: a reply never overtakes the slow one before it.
        if (!pending_.empty()) at = std::max(at, pending_.back().at);
        const int pieces =
            std::max(1, std::min<int>(faults_.splitPieces, static_cast<int>(frame.size())));
        const std::size_t size = frame.size() / static_cast<std::size_t>(pieces);
        std::size_t off = 0;
        for (int p = 0; p < pieces; ++p) {
            const std::size_t len = p == pieces - 1 ? frame.size() - off : size;
            pending_.push_back({at, frame.substr(off, len)});
            off += len;
            at += faults_.splitDelayMs;
        }
        SendDue();
    }

    void SendDue() {
        while (!pending_.empty() && pending_.front().at <= NowMs()) {
            const std::string bytes = pending_.front().bytes;
            pending_.pop_front();
            if (master_ < 0) continue;
            // Logged before the write, so that the line is there when the reply arrives.
            Log("TX", bytes);
            const ssize_t n = write(master_, bytes.data(), bytes.size());
            if (n != static_cast<ssize_t>(bytes.size()))
                LogLine("TX failed: " + (n < 0 ? std::string(std::strerror(errno))
                                               : std::to_string(n) + " bytes written"));
        }
    }

    // "on" or "off" into a flag; false leaves it as it was.
    static bool OnOff(const std::string& word, bool& flag) {
        if (word != "on" && word != "off") return false;
        flag = word == "on";
        return true;
    }

    // Carries out one control command; returns why it was refused, or nothing.
    std::optional<std::string> Execute(const std::string& cmd, const std::string& a,
                                       const std::string& b) {
        const std::string onOff = "use on or off";
        if (cmd == "pump") {
            gauge_.SetState(Chamber::Pumping);
        } else if (cmd == "vent") {
            gauge_.SetState(Chamber::Venting);
        } else if (cmd == "hold") {
            gauge_.SetState(Chamber::Holding);
        } else if (cmd == "leak") {
            const auto rate = ParseReal(a);
            if (!rate || *rate <= 0) return "pascals per second needed, above 0";
            gauge_.StartLeak(*rate);
        } else if (cmd == "pressure") {
            const auto pa = ParseReal(a);
            if (!pa || *pa < 0) return "pascals needed, 0 or more";
            gauge_.SetPressurePa(*pa);
        } else if (cmd == "noise") {
            bool on = false;
            if (!OnOff(a, on)) return onOff;
            gauge_.SetNoise(on);
        } else if (cmd == "silent" || cmd == "garbage" || cmd == "noend") {
            bool& flag = cmd == "silent"    ? faults_.silent
                         : cmd == "garbage" ? faults_.garbage
                                            : faults_.noEnd;
            if (!OnOff(a, flag)) return onOff;
        } else if (cmd == "echo") {
            if (a.size() != 1 && a != "off") return "one letter needed, or off";
            faults_.echo = a == "off" ? 0 : a[0];
        } else if (cmd == "corrupt") {
            const auto at = ParseInt(a);
            if (a == "off") {
                faults_.corruptAt = 0;
            } else if (!at || *at < 1 || *at > 1000 || b.size() != 1) {
                return "a position (1..1000) and one character needed, or off";
            } else {
                faults_.corruptAt = *at;
                faults_.corruptWith = b[0];
            }
        } else if (cmd == "length") {
            const auto n = ParseInt(a);
            if (a != "off" && (!n || *n < -1000 || *n > 1000))
                return "a number of characters needed (-1000..1000), or off";
            faults_.lengthDelta = a == "off" ? 0 : *n;
        } else if (cmd == "split") {
            const auto pieces = ParseInt(a), ms = ParseInt(b);
            if (a == "off") {
                faults_.splitPieces = 1;
            } else if (!pieces || *pieces < 1 || !ms || *ms < 0) {
                return "a number of pieces (1 or more) and of milliseconds needed, or off";
            } else {
                faults_.splitPieces = *pieces;
                faults_.splitDelayMs = *ms;
            }
        } else if (cmd == "delay") {
            const auto ms = ParseInt(a);
            if (a != "off" && (!ms || *ms < 0)) return "a number of milliseconds needed, or off";
            if (!b.empty() && (b != "once" || a == "off")) return "only 'once' may follow";
            if (b == "once")
                faults_.delayOnceMs = *ms;
            else
                faults_.delayMs = a == "off" ? 0 : *ms;
        } else if (cmd == "address") {
            if (a.size() != 1 || !ValidAddress(a[0])) return "one of 0123456789ABCDEF needed";
            address_ = a[0];
        } else if (cmd == "unplug") {
            Unplug();
        } else if (cmd == "quit") {
            quit_ = true;
        } else {
            return "unknown command (see --help)";
        }
        return std::nullopt;
    }

    void Command(const std::string& line) {
        std::istringstream in(line);
        std::string cmd, a, b;
        in >> cmd >> a >> b;
        if (cmd.empty()) return;
        if (cmd == "replug") {
            const std::string why = Replug();
            Say(why.empty() ? "ok replugged " + slavePath_ : "error: " + why);
        } else if (cmd == "status") {
            gauge_.Advance((NowMs() - lastAdvance_) / 1000.0 * opt_.speed);
            lastAdvance_ = NowMs();
            Say("ok status pressure " + FormatReal(gauge_.PressurePa()) + " Pa unit " +
                gauge_.UnitCode() + " address " + std::string(1, address_) + " device " +
                (master_ >= 0 ? slavePath_ : "(unplugged)"));
        } else if (const auto why = Execute(cmd, a, b)) {
            Say("error: '" + line + "' refused: " + *why);
        } else {
            Say("ok " + line);
        }
    }

    struct Pending {
        std::int64_t at;
        std::string bytes;
    };

    Options opt_;
    GaugeModel gauge_;
    char address_;
    Faults faults_;
    RequestFramer framer_;
    std::deque<Pending> pending_;
    std::ofstream log_;
    fs::path linkDir_, link_;
    std::string slavePath_;
    int master_ = -1, slave_ = -1;
    std::int64_t lastAdvance_ = 0;
    bool quit_ = false;
    std::mt19937 rng_{7};
};

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    Simulator sim(o);
    return sim.Run();
}
