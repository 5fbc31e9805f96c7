#include "Harness.h"

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace reliability {

// The build's bin folder, which holds the test program beside vexa-sim,
// tarnvik-log and the driver libraries.
static std::string BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::optional<Usage> ProcessUsage(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid), stat = ReadFile(proc + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    // After the name: the state is field 3, utime 14 and stime 15.
    std::istringstream fields(stat.substr(close + 2));
    std::string skipped;
    double utime = 0, stime = 0;
    for (int i = 3; i < 14; ++i)
        fields >> skipped;
    fields >> utime >> stime;
    const std::string status = ReadFile(proc + "/status");
    const size_t rss = status.find("VmRSS:");
    return Usage{(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK)),
                 rss == std::string::npos ? 0 : std::atol(status.c_str() + rss + 6)};
}

Simulator::Simulator(const TempDir& dir, const std::vector<std::string>& configLines,
                     const std::vector<std::string>& options)
    : m_portsDir(dir.File("ports")), m_stdout(dir.File("sim.out")) {
    ChildLaunch launch;
    launch.argv = {BinDir() + "/vexa-sim", "--ports-dir", m_portsDir, "--usb-dir", dir.File("usb")};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    for (const auto& line : configLines)
        launch.argv.insert(launch.argv.end(), {"-e", line});
    launch.stdoutPath = m_stdout;
    launch.stderrPath = dir.File("sim.err");
    m_child = std::make_unique<Child>(launch);
    const auto ready = [this] { return ReadFile(m_stdout).find("ready\n") != std::string::npos; };
    m_ready =
        WaitUntil([&] { return ready() || !m_child->Running(); }, 10000) && m_child->Running();
}

void WriteWorkspaceFile(const std::string& path, const WorkspaceShape& shape) {
    // The channels are left to their defaults: station i, "Channel i", "00.000".
    std::ostringstream text;
    text << "[Workspace]\r\nTitle=Reliability\r\nPort=" << shape.port
         << "\r\nBaudrate=" << shape.baud << "\r\nProtocol=" << shape.protocol
         << "\r\nChannels=" << shape.channels << "\r\nlogInterval=" << shape.logInterval
         << "\r\nlogDefault=" << shape.logDefault << "\r\n";
    WriteFile(path, text.str());
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
    const std::regex rowPattern(row), comma(",");
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
            check.rows.emplace_back(std::sregex_token_iterator(line.begin(), line.end(), comma, -1),
                                    std::sregex_token_iterator());
        }
    }
    return check;
}

size_t CompleteLines(const std::string& path) {
    // The logger ends every line with CR LF.
    const std::string content = ReadFile(path);
    return static_cast<size_t>(std::count(content.begin(), content.end(), '\n'));
}

namespace {

sockaddr_in Loopback(int port) {
    return sockaddr_in{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
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
