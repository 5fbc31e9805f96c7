// Child processes for the tests that run the real programs: each with its
// own environment, standard output and error in files, and limits, killed
// if still running when the test ends.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// Polls `done` every few milliseconds until it holds or `timeoutMs` passed.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

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
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

inline Child::Child(const ChildLaunch& launch) {
    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& n : launch.env)
            replaced = replaced || entry.rfind(n.substr(0, n.find('=') + 1), 0) == 0;
        if (!replaced) envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), launch.env.begin(), launch.env.end());
    std::vector<std::string> args = launch.argv;
    std::vector<char*> envp, argv;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    for (auto& a : args)
        argv.push_back(a.data());
    envp.push_back(nullptr);
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        const int out = open(launch.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(launch.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        dup2(in, 0);
        // A new process group: a signal for the test run does not reach it.
        setpgid(0, 0);
        const struct rlimit noCore { 0, 0 }, size{launch.fileSizeLimit, launch.fileSizeLimit};
        setrlimit(RLIMIT_CORE, &noCore);
        setrlimit(RLIMIT_FSIZE, &size);
        signal(SIGXFSZ, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

inline Child::~Child() {
    if (Running()) {
        kill(m_pid, SIGKILL);
        Wait(10000);
    }
}

inline bool Child::Running() {
    if (m_status || m_pid <= 0) return false;
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_status = status;
        return false;
    }
    return r == 0;
}

inline void Child::Signal(int signal) {
    if (Running()) kill(m_pid, signal);
}

inline std::optional<int> Child::Wait(int timeoutMs) {
    WaitUntil([this] { return !Running(); }, timeoutMs);
    return m_status;
}

inline int Child::ExitCode(int timeoutMs) {
    const auto status = Wait(timeoutMs);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}
