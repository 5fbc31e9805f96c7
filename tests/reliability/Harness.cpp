#include "Harness.h"

#include "MessageBox.h"
#include "NumberText.h"
#include "Workspace.h"
#include "WorkspaceFile.h"

#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace reliability {

namespace {

// The build's bin folder, which holds the test program beside vexa-sim,
// tarnvik-log and the driver libraries.
std::string BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

} // namespace

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

Simulator::Simulator(const TempDir& dir, const std::vector<std::string>& configLines,
                     const std::vector<std::string>& options)
    : m_portsDir(dir.File("ports")), m_stdout(dir.File("sim.out")), m_control(dir.File("control")) {
    ChildLaunch launch;
    launch.argv = {BinDir() + "/vexa-sim", "--ports-dir", m_portsDir, "--usb-dir",
                   dir.File("usb"),        "--control",   m_control};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    for (const auto& line : configLines)
        launch.argv.insert(launch.argv.end(), {"-e", line});
    launch.stdoutPath = m_stdout;
    launch.stderrPath = dir.File("sim.err");
    m_child = std::make_unique<Child>(launch);
    const auto said = [this](const std::string& text) {
        return ReadFile(m_stdout).find(text) != std::string::npos;
    };
    m_ready = WaitUntil([&] { return said("ready\n") || !m_child->Running(); }, 10000) &&
              m_child->Running();
}

bool Simulator::Control(const std::string& line) {
    const int fd = ::open(m_control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written &&
           WaitUntil(
               [&] { return ReadFile(m_stdout).find("control ok: " + line) != std::string::npos; },
               3000);
}

void WriteWorkspaceFile(const std::string& path, const WorkspaceShape& shape) {
    WorkspaceClass ws;
    ws.Title = "Reliability";
    ws.Port = static_cast<int16_t>(shape.port);
    ws.Baudrate = 115200;
    ws.Protocol = static_cast<int16_t>(shape.protocol);
    ws.Channels = static_cast<int16_t>(shape.channels);
    ws.LogInterval = shape.logInterval;
    ws.LogDefault = shape.logDefault;
    for (int i = 1; i <= shape.channels; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    struct : MessageBoxes {
        MessageAnswer show(const std::string& text, const std::string&, MessageIcon,
                           MessageButtons) override {
            throw std::runtime_error("workspace not written: " + text);
        }
    } boxes;
    SaveWorkspace(ws, path, RegionalSettings::point(), boxes);
}

ChildLaunch LoggerLaunch(const std::string& workspace, const std::string& logPath,
                         const std::string& portsDir, const std::string& stderrPath) {
    ChildLaunch launch;
    launch.argv = {BinDir() + "/tarnvik-log", "--log", logPath, workspace};
    const std::string home = std::filesystem::path(portsDir).parent_path().string();
    launch.env = {"VEXA_PORTS_DIR=" + portsDir,
                  "XDG_CONFIG_HOME=" + home + "/config",
                  "HOME=" + home,
                  "LC_ALL=C",
                  "LANG=C",
                  "QT_QPA_PLATFORM=offscreen"};
    launch.stderrPath = stderrPath;
    return launch;
}

LogCheck CheckLog(const std::string& content, int channels) {
    LogCheck check;
    std::string row = R"(\d{2}\D\d{2}\D\d{4},\d{2}\D\d{2}\D\d{2},\d+)";
    for (int i = 0; i < channels; ++i)
        row += R"(,-?\d{2,}\.\d{3})";
    const std::regex rowPattern(row);
    size_t start = 0;
    for (size_t end; start < content.size(); start = end + 2) {
        end = content.find("\r\n", start);
        check.lastLinePartial = end == std::string::npos;
        if (check.lastLinePartial) break;
        const std::string line = content.substr(start, end - start);
        if (start == 0) {
            check.header = line;
        } else if (!std::regex_match(line, rowPattern)) {
            check.problems.push_back(line);
        } else {
            check.rows.emplace_back();
            for (size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1) {
                comma = line.find(',', from);
                check.rows.back().push_back(line.substr(from, comma - from));
            }
        }
    }
    return check;
}

size_t CompleteLines(const std::string& path) {
    const std::string content = ReadFile(path);
    size_t n = 0;
    for (size_t p = 0; (p = content.find("\r\n", p)) != std::string::npos; p += 2)
        ++n;
    return n;
}

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

const char* BrokerProgram() {
    return "/usr/sbin/mosquitto";
}

Broker::Broker(const TempDir& dir, const std::vector<std::string>& extra)
    : m_dir(dir), m_port(FreePort()) {
    std::string config = "listener " + std::to_string(m_port) +
                         " 127.0.0.1\npersistence true\npersistence_location " + dir.Path() +
                         "/\nautosave_interval 1\nmax_queued_messages 0\n";
    // Run as root, the broker would become the user "mosquitto", who
    // cannot read the test's folder.
    if (const passwd* user = ::getpwuid(::getuid()))
        config += "user " + std::string(user->pw_name) + "\n";
    bool anonymous = true;
    for (const auto& line : extra) {
        config += line + "\n";
        anonymous = anonymous && line.rfind("password_file", 0) != 0;
    }
    if (anonymous) config += "allow_anonymous true\n";
    WriteFile(dir.File("broker.conf"), config);
}

bool Broker::Start() {
    ChildLaunch launch;
    launch.argv = {BrokerProgram(), "-c", m_dir.File("broker.conf")};
    launch.stderrPath = m_dir.File("broker" + std::to_string(++m_starts) + ".err");
    m_child = std::make_unique<Child>(launch);
    return WaitUntil([&] { return Accepts(m_port); }, 5000);
}

void Broker::Stop() {
    m_child->Signal(SIGTERM);
    m_child->Wait(5000);
    m_child.reset();
}

} // namespace reliability
