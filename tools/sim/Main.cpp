// vg57-sim: VG-57 gauges on a pseudo-terminal, published as COM<n> in the port map folder.
#include "Options.h"
#include "Protocol.h"
#include "SimGauge.h"
#include "Wire.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace vg57sim;

namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

std::int64_t NowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t NowMs() {
    return NowNs() / kNsPerMs;
}

// With an echoing adapter the gauge answers this long after the request's end, so that the
// echo and the reply are apart on the line.
constexpr std::int64_t kEchoTurnaroundNs = 3 * kNsPerMs;

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

std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes)
        text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
    return text;
}

class Simulator {
public:
    explicit Simulator(const Options& o)
        : opt_(o), wire_(CharacterNs(o.baud, o.parity, o.stopBits)) {
        const std::int64_t now = NowMs();
        for (std::size_t i = 0; i < o.addresses.size(); ++i)
            gauges_.emplace_back(o.addresses[i], o.startPa, static_cast<std::uint32_t>(57 + i),
                                 o.speed, now);
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
        Say("vg57-sim: COM" + std::to_string(opt_.com) + " -> " + slavePath_ + " (" +
            AddressList() + LineDescription() + ")");
        Say("ready");
        bool stdinOpen = true;
        std::string input;
        while (!quit_) {
            pollfd fds[3] = {
                {master_, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}, {sigFd, POLLIN, 0}};
            // Nothing to wake up for but requests, commands, signals and characters or reply
            // pieces that fall due.
            const std::int64_t due = NextDueNs();
            timespec wait{};
            if (due != INT64_MAX) {
                const std::int64_t left = std::max<std::int64_t>(0, due - NowNs());
                wait = {static_cast<time_t>(left / 1'000'000'000),
                        static_cast<long>(left % 1'000'000'000)};
            }
            if (ppoll(fds, 3, due == INT64_MAX ? nullptr : &wait, nullptr) < 0 && errno != EINTR)
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
            if (opt_.wire)
                PassOnWire(NowNs());
            else
                SendDue();
        }
        if (sigFd >= 0) close(sigFd);
        return 0;
    }

private:
    std::string AddressList() const {
        std::string list = gauges_.size() == 1 ? "address " : "addresses ";
        for (const auto& g : gauges_)
            list += std::string(1, g.Address()) + ",";
        list.pop_back();
        return list;
    }

    std::string LineDescription() const {
        std::string d;
        if (opt_.wire)
            d += "; wire: " + std::to_string(opt_.baud) + " bit/s, " +
                 std::to_string(9 + (opt_.parity ? 1 : 0) + opt_.stopBits) + " bits a character";
        if (opt_.echo) d += "; the adapter echoes";
        return d;
    }

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
        for (auto& g : gauges_)
            g.pending.clear();
        wire_.Clear();
        toLog_.clear();
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

    void WriteToProgram(const std::string& bytes) {
        if (master_ < 0 || bytes.empty()) return;
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n != static_cast<ssize_t>(bytes.size()))
            LogLine("TX failed: " + (n < 0 ? std::string(std::strerror(errno))
                                           : std::to_string(n) + " bytes written"));
    }

    void ReadRequests() {
        char buf[512];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;
        const std::string bytes(buf, static_cast<std::size_t>(n));
        const std::int64_t now = NowNs();
        Log("RX", bytes);
        if (opt_.wire) {
            // The adapter sends them one character after another, from now or after what it
            // still has to send.
            wire_.Send(kHost, now, bytes);
            return;
        }
        if (opt_.echo) WriteToProgram(bytes); // the adapter's receiver hears its own sending
        for (const auto& request : framer_.Feed(bytes))
            Dispatch(request, now, now);
    }

    // Every gauge hears the request; the addressed one answers, endNs after its last character.
    // nowNs is the time of the line's last look, before which nothing can be sent.
    void Dispatch(const std::string& request, std::int64_t endNs, std::int64_t nowNs) {
        LogLine("REQ " + Printable(request));
        for (std::size_t i = 0; i < gauges_.size(); ++i) {
            SimGauge& g = gauges_[i];
            const auto frame = g.Reply(request, nowNs / kNsPerMs);
            if (!frame) continue;
            const std::int64_t turnaround = opt_.echo ? kEchoTurnaroundNs : 0;
            const std::int64_t delay = g.TakeDelayMs() * kNsPerMs;
            if (opt_.wire) {
                // One request at a time: the gauge turns to this one when it has finished
                // sending the reply before it, and then takes this one's own delay. Counted on
                // the line's time, not on when this process got round to it.
                const int talker = static_cast<int>(i);
                const std::int64_t start = std::max(
                    std::max(endNs, wire_.BusyUntilNs(talker)) + turnaround + delay, nowNs);
                SendPieces(
                    *frame, g.Fault(),
                    [&](std::int64_t at, const std::string& piece) {
                        toLog_.emplace(std::max(at, wire_.BusyUntilNs(talker)), piece);
                        wire_.Send(talker, at, piece);
                    },
                    start);
            } else {
                std::int64_t at = (endNs + turnaround + delay) / kNsPerMs;
                // A gauge answers in turn: a reply never overtakes the slow one before it.
                if (!g.pending.empty()) at = std::max(at, g.pending.back().at);
                SendPieces(
                    *frame, g.Fault(),
                    [&](std::int64_t t, const std::string& piece) {
                        g.pending.push_back({t / kNsPerMs, piece});
                    },
                    at * kNsPerMs);
                SendDue();
            }
        }
    }

    // A frame in the pieces the split fault asks for, each handed on with its start time.
    template <typename Put>
    static void SendPieces(const std::string& frame, const Faults& f, Put put, std::int64_t atNs) {
        const int pieces =
            std::max(1, std::min<int>(f.splitPieces, static_cast<int>(frame.size())));
        const std::size_t size = frame.size() / static_cast<std::size_t>(pieces);
        std::size_t off = 0;
        for (int p = 0; p < pieces; ++p) {
            const std::size_t len = p == pieces - 1 ? frame.size() - off : size;
            put(atNs, frame.substr(off, len));
            off += len;
            atNs += f.splitDelayMs * kNsPerMs;
        }
    }

    // Without --wire: every gauge's due replies, in the order they fall due.
    void SendDue() {
        for (;;) {
            SimGauge* next = nullptr;
            for (auto& g : gauges_)
                if (!g.pending.empty() &&
                    (!next || g.pending.front().at < next->pending.front().at))
                    next = &g;
            if (!next || next->pending.front().at > NowMs()) return;
            const std::string bytes = next->pending.front().bytes;
            next->pending.pop_front();
            if (master_ < 0) continue;
            // Logged before the write, so that the line is there when the reply arrives.
            Log("TX", bytes);
            WriteToProgram(bytes);
        }
    }

    // With --wire: what has passed on the line by now reaches the program and the gauges.
    void PassOnWire(std::int64_t now) {
        for (auto it = toLog_.begin(); it != toLog_.end() && it->first <= now;
             it = toLog_.erase(it))
            Log("TX", it->second);
        std::string toProgram;
        for (const LineChar& c : wire_.Take(now)) {
            // The program's adapter hears the line unless it is sending itself, or echoes.
            if (opt_.echo || !c.host) toProgram += c.byte;
            // A gauge listens to the program, and hears any collision; its own and other
            // gauges' clean replies are not requests.
            if (!c.host && !c.garbled) continue;
            for (const auto& request : framer_.Feed(std::string(1, c.byte)))
                Dispatch(request, c.endNs, now);
        }
        WriteToProgram(toProgram);
    }

    std::int64_t NextDueNs() const {
        std::int64_t due = INT64_MAX;
        if (opt_.wire) {
            due = wire_.NextDueNs();
            if (!toLog_.empty()) due = std::min(due, toLog_.begin()->first);
        }
        for (const auto& g : gauges_)
            if (!g.pending.empty()) due = std::min(due, g.pending.front().at * kNsPerMs);
        return due;
    }

    SimGauge* Find(char address) {
        for (auto& g : gauges_)
            if (g.Address() == address) return &g;
        return nullptr;
    }

    // Carries out one control command for the gauges chosen; returns why it was refused, or
    // nothing.
    std::optional<std::string> Execute(std::vector<SimGauge*> chosen, bool prefixed,
                                       const std::string& cmd, const std::string& a,
                                       const std::string& b, std::string& said) {
        if (cmd == "unplug" || cmd == "replug" || cmd == "quit") {
            if (prefixed) return "a command for the whole line takes no address";
            if (cmd == "unplug") Unplug();
            if (cmd == "quit") quit_ = true;
            if (cmd == "replug") {
                if (const std::string why = Replug(); !why.empty()) return why;
                said = "ok replugged " + slavePath_;
            }
            return std::nullopt;
        }
        if (cmd == "status") {
            said = "ok status";
            for (SimGauge* g : chosen)
                said += (g == chosen.front() ? " " : "; ") + g->Status(NowMs());
            said += " device " + (master_ >= 0 ? slavePath_ : std::string("(unplugged)"));
            return std::nullopt;
        }
        if (cmd == "address") {
            if (chosen.size() != 1) return "several gauges: name one, e.g. @0 address 5";
            if (a.size() != 1 || !ValidAddress(a[0])) return "one of 0123456789ABCDEF needed";
            if (SimGauge* other = Find(a[0]); other && other != chosen.front())
                return "another gauge has address " + a;
            chosen.front()->SetAddress(a[0]);
            return std::nullopt;
        }
        // The same words pass or fail for every gauge alike.
        for (SimGauge* g : chosen)
            if (auto why = g->Execute(cmd, a, b, NowMs())) return why;
        return std::nullopt;
    }

    void Command(const std::string& line) {
        std::string words = line;
        std::vector<SimGauge*> chosen;
        const bool prefixed = !line.empty() && line[0] == '@';
        if (prefixed) {
            if (line.size() < 2 || (line.size() > 2 && line[2] != ' '))
                return Say("error: '" + line + "' refused: one address after @ needed");
            SimGauge* g = Find(line[1]);
            if (!g) return Say("error: '" + line + "' refused: no gauge at address " + line[1]);
            chosen.push_back(g);
            words = line.substr(2);
        } else {
            for (auto& g : gauges_)
                chosen.push_back(&g);
        }
        std::istringstream in(words);
        std::string cmd, a, b;
        in >> cmd >> a >> b;
        if (cmd.empty()) {
            if (prefixed) Say("error: '" + line + "' refused: a command needed after the address");
            return;
        }
        std::string said = "ok " + line;
        if (const auto why = Execute(chosen, prefixed, cmd, a, b, said))
            Say("error: '" + line + "' refused: " + *why);
        else
            Say(said);
    }

    Options opt_;
    std::vector<SimGauge> gauges_;
    RequestFramer framer_;
    Wire wire_;
    std::multimap<std::int64_t, std::string> toLog_; // replies by the time they go on the wire
    std::ofstream log_;
    fs::path linkDir_, link_;
    std::string slavePath_;
    int master_ = -1, slave_ = -1;
    bool quit_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    Simulator sim(o);
    return sim.Run();
}
