// The simulator's run: serves every configured port on a linked pseudo
// terminal, paces the replies, records what the host sent and takes
// run-time changes from a control FIFO, until SIGINT, SIGTERM or SIGHUP.
#pragma once

#include "SimConfig.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

namespace vexasim {

struct SimOptions {
    std::string portsDir;    // COM<N> links
    std::string usbDir;      // USB serial-number links
    std::string tracePath;   // empty: no trace
    std::string controlPath; // empty: no control FIFO
    uint64_t seed = 1;
    bool replaceLinks = false;
};

class Simulator {
  public:
    Simulator(SimConfig config, SimOptions options);
    ~Simulator(); // removes the links and a control FIFO it made
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Makes every terminal and link, then prints one line per port and
    // station and "ready". The stop signals must be blocked by the caller
    // beforehand, so one that comes early is taken by Run, not lost.
    // False, with the reason in `error`, when something cannot be served.
    bool Start(std::ostream& out, std::string& error);
    // Serves until a stop signal; returns the exit status (0 on a clean stop).
    int Run(std::ostream& out, std::ostream& err);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Blocks SIGINT, SIGTERM and SIGHUP for the calling thread and ignores
// SIGPIPE, as Start requires.
void BlockStopSignals();

} // namespace vexasim
