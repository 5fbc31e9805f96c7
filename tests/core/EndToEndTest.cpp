// tarnvik-log against vexa-sim with the real driver libraries: the rows in
// the CSV against the simulated readings, the requests against the bytes the
// simulator received, and the exit status of runs that cannot start.
#include "../reliability/Harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

using namespace reliability;

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos;
         start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

// The requests of a simulator trace (its "rx" lines), as bytes.
std::vector<std::string> Received(const std::string& trace) {
    std::vector<std::string> requests;
    for (const auto& line : Split(ReadFile(trace), "\n")) {
        std::istringstream in(line);
        std::string seconds, port, kind, hex, bytes;
        if (!(in >> seconds >> port >> kind) || kind != "rx") continue;
        while (in >> hex)
            bytes += static_cast<char>(std::stoul(hex, nullptr, 16));
        requests.push_back(bytes);
    }
    return requests;
}

struct EndToEnd : ::testing::Test {
    // The logger's exit status on this workspace text, in this locale;
    // Ctrl-C stops it once it wrote stopAfterRows rows.
    int Run(const std::string& workspace, std::vector<std::string> options,
            const std::string& locale = "C", const std::string& log = "",
            size_t stopAfterRows = 0) {
        std::filesystem::remove(dir.File("ws.lws"));
        if (!workspace.empty()) WriteFile(dir.File("ws.lws"), "[Workspace]\r\n" + workspace);
        ChildLaunch launch = LoggerLaunch(dir.File("ws.lws"), log.empty() ? logPath : log,
                                          dir.File("ports"), dir.File("logger.err"));
        launch.argv.insert(launch.argv.begin() + 1, options.begin(), options.end());
        for (auto& e : launch.env)
            if (e.rfind("LC_ALL=", 0) == 0) e = "LC_ALL=" + locale;
        Child logger(launch);
        if (stopAfterRows > 0) {
            WaitUntil([&] { return Split(ReadFile(logPath), "\r\n").size() > stopAfterRows; },
                      10000);
            logger.Signal(SIGINT);
        }
        const auto status = logger.Wait(30000);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }
    std::vector<std::vector<std::string>> Rows(const std::string& separator) {
        std::vector<std::vector<std::string>> rows;
        for (const auto& line : Split(ReadFile(logPath), "\r\n"))
            rows.push_back(Split(line, separator));
        return rows;
    }
    TempDir dir;
    std::string logPath = dir.File("out.csv");
};

// The first pass, before logging, reads live values; every row after the
// first starts with the SNAP broadcast. A comma locale writes ";" and ",",
// and Ctrl-C ends the run with the file whole (after a status line).
TEST_F(EndToEnd, AsciiWithSnapLatchesEveryRowAfterTheFirstInACommaLocale) {
    Simulator sim(dir, {"port COM7 ascii 115200", "station 1 value=3.5", "station 12 value=-0.25"},
                  {"--trace", dir.File("trace.txt")});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(Run("Port=7\r\nBaudrate=115200\r\nProtocol=1\r\nSnap=1\r\nChannels=2\r\n"
                  "logInterval=300\r\nStation1=1\r\nFormat1=0.00\r\nStation2=12\r\n"
                  "Format2=0.000\r\n",
                  {"--seconds", "60"}, "de_DE.UTF-8", "", 4),
              0);
    const auto rows = Rows(";");
    ASSERT_GE(rows.size(), 5u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"Date", "Time", "Elapsed mS", "Channel 1", "Channel 2"}));
    for (size_t row = 1; row < rows.size(); ++row) {
        ASSERT_EQ(rows[row].size(), 5u);
        EXPECT_EQ(rows[row][0][2], '.') << "the German date separator";
        EXPECT_EQ(rows[row][3] + " " + rows[row][4], "3,50 -0,250");
    }
    sim.Process().Signal(SIGTERM);
    ASSERT_TRUE(sim.Process().Wait(5000));
    const std::string a = "!001:SYSN?\r", b = "!012:SYSN?\r", snap = "!000:SNAP\r";
    auto sent = Received(dir.File("trace.txt"));
    sent.resize(10);
    EXPECT_EQ(sent, (std::vector<std::string>{"!001:SYS?\r", "!012:SYS?\r", a, b, snap, a, b, snap,
                                              a, b}));
}

TEST_F(EndToEnd, RunsThatCannotStartExitWithStatusOneAndWriteNothing) {
    const std::string rows = "--rows", one = "1";
    // No simulator on COM9 yet: the port does not open.
    EXPECT_EQ(Run("Port=9\r\nProtocol=0\r\nChannels=1\r\n", {rows, one}), 1);
    Simulator sim(dir, {"port COM9 bus 115200", "station 1 value=1"});
    ASSERT_TRUE(sim.Ready());
    for (const std::string workspace :
         {"Port=9\r\nProtocol=0\r\nChannels=4\r\nlogInterval=18\r\n", // the rate check
          "Port=9\r\nProtocol=3\r\nChannels=1\r\n"})                  // no such driver
        EXPECT_EQ(Run(workspace, {rows, one}), 1) << workspace;
    EXPECT_FALSE(std::filesystem::exists(logPath));
    EXPECT_EQ(Run("Port=9\r\nProtocol=0\r\nChannels=1\r\n", {rows, one}, "C",
                  dir.File("no-such-folder/out.csv")),
              1);
    EXPECT_EQ(Run("", {rows, one}), 1); // no workspace file
}

} // namespace
