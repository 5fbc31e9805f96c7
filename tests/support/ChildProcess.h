// Child processes for the tests that run the real programs: each with its
// own environment, standard output and error in files, and limits, killed
// if still running when the test ends.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Polls `done` every few milliseconds until it holds or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

struct ChildLaunch {
    std::vector<std::string> argv;
    std::vector<std::string> env; // "NAME=value", added to this process's environment
    std::string stdoutPath = "/dev/null";
    std::string stderrPath = "/dev/null";
    rlim_t fileSizeLimit = RLIM_INFINITY; // writes past it raise SIGXFSZ, as on a full disk
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
