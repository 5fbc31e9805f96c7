#include "ChildProcess.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Child::Child(const ChildLaunch& launch) {
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

Child::~Child() {
    if (Running()) {
        kill(m_pid, SIGKILL);
        Wait(10000);
    }
}

bool Child::Running() {
    if (m_status || m_pid <= 0) return false;
    int status = 0;
    struct rusage usage {};
    const pid_t r = wait4(m_pid, &status, WNOHANG, &usage);
    if (r == m_pid) {
        m_status = status;
        m_cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        return false;
    }
    return r == 0;
}

void Child::Signal(int signal) {
    if (Running()) kill(m_pid, signal);
}

std::optional<int> Child::Wait(int timeoutMs) {
    WaitUntil([this] { return !Running(); }, timeoutMs);
    return m_status;
}

int Child::ExitCode(int timeoutMs) {
    const auto status = Wait(timeoutMs);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}
