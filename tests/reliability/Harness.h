// What the fault tests share: child processes with their own environment
// and limits, the simulator and the headless logger as such children, and
// the checks of a log file.
#pragma once

#include "../support/FileBytes.h"
#include "../support/PtyInstrument.h"

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace reliability {

// A fresh folder, removed with everything in it at the end of the test.
struct TempDir : TempFolder {
    std::string File(const std::string& name) const { return Path() + "/" + name; }
};

inline std::string ReadFile(const std::string& path) {
    return FileBytes(path);
}
inline void WriteFile(const std::string& path, const std::string& bytes) {
    PutFileBytes(path, bytes);
}

// Polls `done` every few milliseconds until it holds or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

struct ChildLaunch {
    std::vector<std::string> argv;
    std::vector<std::string> env; // "NAME=value", added to this process's environment
    std::string stdoutPath = "/dev/null";
    std::string stderrPath = "/dev/null";
    rlim_t fileSizeLimit = RLIM_INFINITY; // writes past it fail instead of killing
};

// A child process; killed (SIGKILL) and reaped if still running at the end.
class Child {
  public:
    explicit Child(const ChildLaunch& launch);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Running();
    void Signal(int signal);
    // The wait status once the child ended within timeoutMs, else nothing.
    std::optional<int> Wait(int timeoutMs);
    // The exit code of a child that ended within timeoutMs, else -1.
    int ExitCode(int timeoutMs = 20000);
    // Processor time (user and system) the child used, once it ended.
    double CpuSeconds() const { return m_cpuSeconds; }

  private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
    double m_cpuSeconds = 0;
};

// vexa-sim serving `configLines` on links in `portsDir`; ready when built.
// `options` go before the configuration ("--replace", "--trace FILE").
class Simulator {
  public:
    Simulator(const TempDir& dir, const std::vector<std::string>& configLines,
              const std::vector<std::string>& options = {});
    // Sends a line through the control FIFO; true once the simulator took it.
    bool Control(const std::string& line);
    bool Ready() const { return m_ready; }
    const std::string& PortsDir() const { return m_portsDir; }
    Child& Process() { return *m_child; }

  private:
    std::string m_portsDir, m_stdout, m_control;
    std::unique_ptr<Child> m_child;
    bool m_ready = false;
};

// A workspace of `channels` channels named "Channel i" with format "00.000"
// on COM<port>, written with the program's own workspace writer.
struct WorkspaceShape {
    int port = 1;
    int protocol = 0; // 0 bus, 1 ASCII
    int channels = 4;
    int logInterval = 20;
    float logDefault = 0;
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
const char* BrokerProgram();
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
