// vexa-sim: Vexa instruments on pseudo terminals, for tests, demos and
// benchmarks of the logger and its drivers.
#include "SerialDevice.h"
#include "PtyLink.h"
#include "SimConfig.h"
#include "Simulator.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

constexpr const char* kHelp = R"(usage: vexa-sim [options]

Serves simulated Vexa instruments on pseudo terminals. Each serial port is
linked as COM<N> into $VEXA_PORTS_DIR (default $XDG_CONFIG_HOME/vexa/ports,
~/.config/vexa/ports), each USB instrument by its serial number into
$VEXA_USB_DIR (default $XDG_CONFIG_HOME/vexa/usb, ~/.config/vexa/usb).
Prints what it serves, then "ready"; runs until SIGINT, SIGTERM or SIGHUP
and then removes its links (exit status 0).

options:
  --config FILE    read configuration lines from FILE (repeatable)
  -e LINE          one more configuration line (repeatable, after the files)
  --trace FILE     record every request received, every reply sent
  --control FIFO   take run-time changes from FIFO (made if missing)
  --ports-dir DIR  link serial ports here instead
  --usb-dir DIR    link USB instruments here instead
  --seed N         start of the noise generators (default 1)
  --replace        replace links that point to another existing device
  --check          check the configuration and exit
  --help           this text

configuration (one item per line, "#" starts a comment):
  port COM<N> bus|ascii BAUD     a serial port; stations follow it
  station N [options]            bus 1..255, ascii 1..999
  usb SERIAL [options] [baud=N]  a USB instrument, ASCII as station 000
station options:
  value=X                        constant reading (default 0)
  wave=MEAN,AMP,PERIOD_S[,NOISE] MEAN + AMP*sin(2 pi t/PERIOD) + noise
  fault=F[,F...]                 silent, nak, checksum (bus), station (bus),
                                 cut (last byte never sent) or none
  late=MS                        reply MS ms late (0..60000)
  noise=PERCENT                  corrupt one byte of that share of replies
  snap=on|off                    SNAP and the latched reads (default on)
  stream=MS                      ASCII: send the reading every MS ms;
                                 XOFF (13h) holds the line, XON (11h) resumes

instrument commands:
  bus 10, ASCII SYS       read the live reading
  bus 103, ASCII SNAP     latch the reading (station 0: all, no reply)
  bus 23, ASCII SYSN      read the latched reading
  any other command       a register: write stores (ACK), read returns it,
                          unknown reads and executes are refused (NAK)
  station 0 is a broadcast on a serial port: nobody answers it.

control FIFO lines (answered on stdout with "control ok: LINE" or
"control error: REASON: LINE"):
  set COM<N> STATION OPTIONS...  e.g. set COM1 2 fault=nak late=30
  set USB<SERIAL> OPTIONS...     e.g. set USB100234 value=4.5

trace lines: SECONDS PORT rx|junk|tx|lost HEX-BYTES, SECONDS since the start
  rx    a request (or an XON/XOFF byte), when its last byte arrived
  junk  received bytes that form no request (ignored, as on a real line)
  tx    a reply or stream line, when its last byte went out
  lost  bytes the terminal would not take (nobody reading it)
)";

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

int Usage(const std::string& message) {
    std::cerr << "vexa-sim: " << message << " (see --help)" << std::endl;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    vexasim::SimConfig config;
    vexasim::SimOptions options;
    options.portsDir = vexa_serial::PortsDirectory();
    options.usbDir = vexa_serial::UsbDirectory();
    std::vector<std::string> lines;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--replace") {
            options.replaceLinks = true;
        } else if (!hasValue) {
            return Usage("unknown option or missing value: " + std::string(arg));
        } else if (arg == "--config") {
            const std::string path = argv[++i];
            std::string text;
            if (!ReadFile(path, text)) return Usage("cannot read " + path);
            if (auto e = vexasim::ParseConfig(text, config)) {
                std::cerr << "vexa-sim: " << path << ":" << e->line << ": " << e->message
                          << std::endl;
                return 2;
            }
        } else if (arg == "-e") {
            lines.emplace_back(argv[++i]);
        } else if (arg == "--trace") {
            options.tracePath = argv[++i];
        } else if (arg == "--control") {
            options.controlPath = argv[++i];
        } else if (arg == "--ports-dir") {
            options.portsDir = argv[++i];
        } else if (arg == "--usb-dir") {
            options.usbDir = argv[++i];
        } else if (arg == "--seed") {
            const std::string_view v = argv[++i];
            const auto r = std::from_chars(v.data(), v.data() + v.size(), options.seed);
            if (r.ec != std::errc{} || r.ptr != v.data() + v.size())
                return Usage("--seed needs a whole number");
        } else {
            return Usage("unknown option " + std::string(arg));
        }
    }
    for (size_t k = 0; k < lines.size(); ++k) {
        if (auto e = vexasim::ParseConfig(lines[k], config)) {
            std::cerr << "vexa-sim: -e \"" << lines[k] << "\": " << e->message << std::endl;
            return 2;
        }
    }
    if (config.ports.empty()) return Usage("no port configured; give --config FILE or -e LINE");
    if (check) {
        for (const auto& p : config.ports)
            std::cout << p.Name() << ": " << p.stations.size() << " station(s)\n";
        return 0;
    }

    vexasim::BlockStopSignals();
    vexasim::Simulator sim(std::move(config), std::move(options));
    std::string error;
    if (!sim.Start(std::cout, error)) {
        std::cerr << "vexa-sim: " << error << std::endl;
        return 1;
    }
    return sim.Run(std::cout, std::cerr);
}
