#include "Simulator.h"

#include "Instrument.h"
#include "PtyLink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexasim {

namespace {

Nanos MonotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Describe(const StationConfig& s, const PortConfig& p) {
    std::ostringstream o;
    o << "  station " << (p.usb ? std::string("000") : std::to_string(s.number)) << ": ";
    const Reading& r = s.reading;
    if (r.periodSeconds > 0.0)
        o << "wave " << r.mean << " +/- " << r.amplitude << " every " << r.periodSeconds
          << " s, noise " << r.noise;
    else
        o << "value " << r.mean;
    const Faults& f = s.faults;
    std::string faults;
    for (auto [on, name] : {std::pair{f.silent, "silent"},
                            {f.nak, "nak"},
                            {f.badChecksum, "checksum"},
                            {f.wrongStation, "station"},
                            {f.cutOff, "cut"}})
        if (on) faults += std::string(faults.empty() ? "" : ",") + name;
    if (!faults.empty()) o << ", fault " << faults;
    if (f.lateMs) o << ", late " << f.lateMs << " ms";
    if (f.noisePercent) o << ", noise on " << f.noisePercent << "% of replies";
    if (!s.snap) o << ", no snap";
    if (s.streamMs) o << ", stream every " << s.streamMs << " ms";
    return o.str();
}

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

struct Simulator::Impl {
    struct Served {
        std::unique_ptr<PtyLink> link;
        std::unique_ptr<InstrumentPort> port;
        bool lossReported = false;
    };

    SimConfig config;
    SimOptions options;
    Nanos start = MonotonicNow();
    std::vector<Served> served;
    std::FILE* trace = nullptr;
    int signalFd = -1;
    int controlFd = -1;
    bool madeFifo = false;
    std::string controlText; // a control line not yet complete

    ~Impl() {
        served.clear(); // links go first, before anything else is torn down
        if (trace) std::fclose(trace);
        if (controlFd >= 0) close(controlFd);
        if (madeFifo) unlink(options.controlPath.c_str());
        if (signalFd >= 0) close(signalFd);
    }

    Nanos Now() const { return MonotonicNow() - start; }

    void Trace(Nanos at, const std::string& port, const char* what,
               const std::vector<uint8_t>& bytes) {
        if (!trace) return;
        const bool written = std::fprintf(trace, "%.6f %s %s %s\n", static_cast<double>(at) / 1e9,
                                          port.c_str(), what, Hex(bytes).c_str()) >= 0 &&
                             std::fflush(trace) == 0;
        if (written) return;
        // Said once; the instruments go on serving without a trace.
        std::fprintf(stderr, "vexa-sim: cannot write the trace %s: %s; tracing stops\n",
                     options.tracePath.c_str(), std::strerror(errno));
        std::fclose(trace);
        trace = nullptr;
    }

    // Never blocks: a FIFO nobody reads would hold the start-up while the
    // stop signals are already blocked.
    bool OpenTrace(std::string& error) {
        const int fd = open(options.tracePath.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            trace = fdopen(fd, "w");
            if (trace) return true;
            close(fd);
        }
        error = "cannot write the trace " + options.tracePath + ": " +
                (errno == ENXIO ? std::string("it is a FIFO that nobody reads")
                                : std::string(std::strerror(errno)));
        return false;
    }

    bool OpenControl(std::string& error) {
        struct stat st {};
        if (stat(options.controlPath.c_str(), &st) == 0) {
            if (!S_ISFIFO(st.st_mode)) {
                error = options.controlPath + " exists and is no FIFO";
                return false;
            }
        } else if (mkfifo(options.controlPath.c_str(), 0600) != 0) {
            error =
                "cannot make the control FIFO " + options.controlPath + ": " + std::strerror(errno);
            return false;
        } else {
            madeFifo = true;
        }
        // Read-write, so the FIFO never reports an end when a writer leaves.
        controlFd = open(options.controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (controlFd < 0) {
            error = "cannot open " + options.controlPath + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    void ReadControl(std::ostream& out) {
        char buf[4096];
        ssize_t n;
        while ((n = read(controlFd, buf, sizeof buf)) > 0)
            controlText.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = controlText.find('\n')) != std::string::npos) {
            std::string line = controlText.substr(0, nl);
            controlText.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            // The answer tells a script that the change is in force.
            if (auto err = ApplyControlLine(line, config))
                out << "control error: " << *err << ": " << line << std::endl;
            else
                out << "control ok: " << line << std::endl;
        }
        // A line longer than any sensible change is dropped, not kept growing.
        if (controlText.size() > 65536) controlText.clear();
    }

    void TraceUnits(Served& s) {
        static const char* const kWhat[] = {"rx", "junk", "tx", "lost"};
        for (const TraceUnit& u : s.port->TakeTrace())
            Trace(u.at, s.port->Config().Name(), kWhat[u.kind], u.bytes);
    }

    void Send(Served& s, Nanos now, std::ostream& err) {
        std::vector<uint8_t> bytes = s.port->Transmit(now);
        TraceUnits(s);
        if (bytes.empty()) return;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(s.link->MasterFd(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        if (done == bytes.size()) {
            s.lossReported = false;
            return;
        }
        // Nobody reads the line and its buffer is full: like a receiver that
        // overruns, the rest is lost. Say so (once per spell), so a test
        // does not wonder.
        std::vector<uint8_t> lost(bytes.begin() + static_cast<long>(done), bytes.end());
        Trace(now, s.port->Config().Name(), "lost", lost);
        if (!s.lossReported)
            err << s.port->Config().Name() << ": the line takes no more bytes (nobody reading?)"
                << std::endl;
        s.lossReported = true;
    }

    void ReceiveFrom(Served& s) {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = read(s.link->MasterFd(), buf, sizeof buf);
            if (n <= 0) break;
            s.port->Receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)), Now());
        }
        TraceUnits(s);
    }
};

Simulator::Simulator(SimConfig config, SimOptions options) : m_impl(std::make_unique<Impl>()) {
    m_impl->config = std::move(config);
    m_impl->options = std::move(options);
}

Simulator::~Simulator() = default;

bool Simulator::Start(std::ostream& out, std::string& error) {
    Impl& d = *m_impl;
    if (d.config.ports.empty()) {
        error = "nothing to serve: the configuration names no port";
        return false;
    }
    if (!d.options.tracePath.empty() && !d.OpenTrace(error)) return false;
    if (!d.options.controlPath.empty() && !d.OpenControl(error)) return false;
    const sigset_t set = StopSignals();
    d.signalFd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (d.signalFd < 0) {
        error = std::string("cannot take the stop signals: ") + std::strerror(errno);
        return false;
    }
    uint64_t seed = d.options.seed;
    for (PortConfig& p : d.config.ports) {
        const std::string linkPath = p.usb ? d.options.usbDir + "/" + std::to_string(p.serial)
                                           : d.options.portsDir + "/" + p.Name();
        Impl::Served s;
        s.link = PtyLink::Create(linkPath, d.options.replaceLinks, error);
        if (!s.link) return false; // links made so far go with the Impl
        s.port = std::make_unique<InstrumentPort>(p, seed++);
        d.served.push_back(std::move(s));
    }
    for (const Impl::Served& s : d.served) {
        const PortConfig& p = s.port->Config();
        out << p.Name() << " " << (p.protocol == Protocol::Bus ? "bus" : "ascii") << " " << p.baud
            << " baud: " << s.link->LinkPath() << " -> " << s.link->DevicePath() << "\n";
        for (const StationConfig& st : p.stations)
            out << Describe(st, p) << "\n";
    }
    out << "ready" << std::endl;
    return true;
}

int Simulator::Run(std::ostream& out, std::ostream& err) {
    Impl& d = *m_impl;
    std::vector<pollfd> fds;
    for (;;) {
        Nanos now = d.Now();
        std::optional<Nanos> next;
        for (Impl::Served& s : d.served) {
            d.Send(s, now, err);
            if (auto t = s.port->NextEvent(); t && (!next || *t < *next)) next = t;
        }
        fds.clear();
        fds.push_back({d.signalFd, POLLIN, 0});
        fds.push_back({d.controlFd, POLLIN, 0}); // -1 is skipped by poll
        for (const Impl::Served& s : d.served) {
            fds.push_back({s.link->MasterFd(), POLLIN, 0});
            fds.push_back({s.link->WatchFd(), POLLIN, 0});
        }
        timespec wait{};
        timespec* timeout = nullptr;
        if (next) {
            const Nanos left = std::max<Nanos>(*next - d.Now(), 0);
            wait.tv_sec = left / 1'000'000'000;
            wait.tv_nsec = left % 1'000'000'000;
            timeout = &wait;
        }
        if (ppoll(fds.data(), fds.size(), timeout, nullptr) < 0 && errno != EINTR) {
            err << "vexa-sim: poll failed: " << std::strerror(errno) << std::endl;
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(d.signalFd, &info, sizeof info) == sizeof info) {
                out << "stopping on signal " << info.ssi_signo << std::endl;
                return 0;
            }
        }
        // Changes first, so a request sent after a change meets it.
        if (fds[1].revents & POLLIN) d.ReadControl(out);
        for (size_t i = 0; i < d.served.size(); ++i) {
            Impl::Served& s = d.served[i];
            const short events = fds[2 + 2 * i].revents;
            if (events & POLLIN) d.ReceiveFrom(s);
            // The simulator holds the terminal's other end, so this only
            // comes from a broken terminal; going on would spin.
            if (events & (POLLERR | POLLNVAL)) {
                err << "vexa-sim: " << s.link->DevicePath() << " failed" << std::endl;
                return 1;
            }
            if (fds[3 + 2 * i].revents & POLLIN) s.link->Reopened();
        }
    }
}

} // namespace vexasim
