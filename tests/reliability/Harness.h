// What the fault tests share: child processes with their own environment
// and limits, the simulator and the headless logger as such children, and
// the checks of a log file.
#pragma once

#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/ScratchFolder.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace reliability {

// A fresh folder, removed with everything in it at the end of the test.
struct TempDir {
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    ~TempDir() { std::filesystem::remove_all(m_path, m_error); }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::string m_path = MakeScratchFolder("tarnvik-rel").string();
    std::error_code m_error;
};

inline constexpr auto& ReadFile = FileBytes;
inline constexpr auto& WriteFile = PutFileBytes;

// CPU time (user + system) and resident memory of a live process.
struct Usage {
    double cpuSeconds = 0;
    long residentKb = 0;
};
std::optional<Usage> ProcessUsage(pid_t pid);

// vexa-sim serving `configLines` on links in `portsDir`; ready when built.
// `options` go before the configuration ("--replace", "--trace FILE").
class Simulator {
  public:
    Simulator(const TempDir& dir, const std::vector<std::string>& configLines,
              const std::vector<std::string>& options = {});
    bool Ready() const { return m_ready; }
    const std::string& PortsDir() const { return m_portsDir; }
    Child& Process() { return *m_child; }

  private:
    std::string m_portsDir, m_stdout;
    std::unique_ptr<Child> m_child;
    bool m_ready = false;
};

// A workspace of `channels` channels named "Channel i" with format "00.000"
// on COM<port>.
struct WorkspaceShape {
    int port = 1;
    int protocol = 0; // 0 bus, 1 ASCII
    int channels = 4;
    int logInterval = 20;
    float logDefault = 0;
    int baud = 115200;
};
void WriteWorkspaceFile(const std::string& path, const WorkspaceShape& shape);

// tarnvik-log logging `workspace` into `logPath` until stopped.
ChildLaunch LoggerLaunch(const std::string& workspace, const std::string& logPath,
                         const std::string& portsDir, const std::string& stderrPath);

// A log file judged line by line.
struct LogCheck {
    std::string header;
    std::vector<std::vector<std::string>> rows; // fields of every complete row
    bool lastLinePartial = false;
    std::vector<std::string> problems; // malformed complete lines
};
// Rows must hold date, time, elapsed and `channels` values in the
// "00.000" format, fields split by ",", lines ended by CR LF.
LogCheck CheckLog(const std::string& content, int channels);
size_t CompleteLines(const std::string& path);

// A Mosquitto broker of one's own on a free loopback port, whose sessions
// and queued messages outlive its restarts; `extra` lines go to the end of
// its configuration (TLS files, a password file).
inline const char* BrokerProgram() {
    return "/usr/sbin/mosquitto";
}
class Broker {
  public:
    explicit Broker(const TempDir& dir, const std::vector<std::string>& extra = {});
    bool Start(); // true once it takes connections
    void Stop();
    int Port() const { return m_port; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(m_port); }

  private:
    const TempDir& m_dir;
    int m_port;
    int m_starts = 0;
    std::unique_ptr<Child> m_child;
};

} // namespace reliability
