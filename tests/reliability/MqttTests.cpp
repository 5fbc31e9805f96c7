// The headless logger publishing to a real Mosquitto of the test's own on a
// loopback port, read back by the test's own subscriber: every row arrives
// once per channel, an outage or a kill loses nothing, and the broker never
// holds up the log file.
#include "Harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

using namespace reliability;

namespace {

const std::string Base = "plant/stand";

struct Message {
    std::string topic, payload;
};

// mosquitto_sub with a persistent QoS 1 session, one "topic payload" line a message.
class Subscriber {
  public:
    Subscriber(const TempDir& dir, int port) : m_path(dir.File("sub.out")) {
        ChildLaunch launch;
        std::istringstream words(
            "/usr/bin/mosquitto_sub -h 127.0.0.1 -q 1 -c -i test-subscriber -v -t " + Base +
            "/# -p " + std::to_string(port));
        for (std::string word; words >> word;)
            launch.argv.push_back(word);
        launch.stdoutPath = m_path;
        m_child = std::make_unique<Child>(launch);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // subscribed
    }
    std::vector<Message> Messages() const {
        std::vector<Message> messages;
        std::istringstream lines(ReadFile(m_path));
        for (std::string line; std::getline(lines, line);)
            if (const size_t space = line.find(' '); space != std::string::npos)
                messages.push_back({line.substr(0, space), line.substr(space + 1)});
        return messages;
    }

  private:
    std::string m_path;
    std::unique_ptr<Child> m_child;
};

std::string Field(const std::string& payload, const std::string& name) {
    std::smatch match;
    const std::regex pattern("\"" + name + "\":(\"[^\"]*\"|[^,}]*)");
    return std::regex_search(payload, match, pattern) ? match[1].str() : "";
}

// The readings received per channel in the order of their first arrival,
// QoS 1 duplicates removed: elapsed -> payload, and the elapsed order.
struct Received {
    std::map<std::string, std::map<long, std::string>> byTopic;
    std::map<std::string, std::vector<long>> order;
    int duplicates = 0;
};
Received Readings(const std::vector<Message>& messages) {
    Received received;
    for (const auto& message : messages) {
        if (message.topic.find_first_not_of("0123456789", Base.size() + 1) != std::string::npos)
            continue;
        const long elapsed = std::stol(Field(message.payload, "elapsed"));
        if (received.byTopic[message.topic].emplace(elapsed, message.payload).second)
            received.order[message.topic].push_back(elapsed);
        else
            ++received.duplicates;
    }
    return received;
}

// A test CA ("ca") that signed a certificate for the broker on the loopback
// address ("server") and one for the logger ("client"), and a second CA
// ("other") that signed nothing: name.pem and name.key in dir.
bool MakeCertificates(const TempDir& dir) {
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::string script = "cd '" + dir.Path() + "' && exec >openssl.log 2>&1";
    for (const char* ca : {"ca", "other"})
        script += std::string(" && openssl req -x509 -days 2 ") + key + " -subj /CN=test-" + ca +
                  " -keyout " + ca + ".key -out " + ca + ".pem";
    WriteFile(dir.File("server.ext"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    WriteFile(dir.File("client.ext"), "extendedKeyUsage=clientAuth\n");
    for (const char* leaf : {"server", "client"})
        script += std::string(" && openssl req -new ") + key + " -subj /CN=" + leaf + " -keyout " +
                  leaf + ".key -out " + leaf + ".csr && openssl x509 -req -days 2 -in " + leaf +
                  ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile " + leaf + ".ext -out " +
                  leaf + ".pem";
    return std::system(script.c_str()) == 0;
}

int ExitStatus(Child& logger, int timeoutMs = 15000) {
    const auto status = logger.Wait(timeoutMs);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// The number that the pattern's group matches in text, or -1.
long Figure(const std::string& text, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(text, match, std::regex(pattern)) ? std::stol(match[1]) : -1;
}

class Mqtt : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(BrokerProgram(), X_OK) != 0)
            GTEST_SKIP() << "the mosquitto broker is not installed (scripts/packages.sh)";
        sim = std::make_unique<Simulator>(dir, std::vector<std::string>{"port COM1 bus 115200",
                                                                        "station 1 value=1.5",
                                                                        "station 2 value=-2.25"});
        ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
        WorkspaceShape shape;
        shape.channels = 2;
        shape.logInterval = 50;
        WriteWorkspaceFile(dir.File("stand.lws"), shape);
    }
    ChildLaunch Logger(const std::string& url, const std::vector<std::string>& options,
                       const std::string& name = "log") {
        ChildLaunch launch = LoggerLaunch(dir.File("stand.lws"), dir.File(name + ".csv"),
                                          sim->PortsDir(), dir.File(name + ".err"));
        std::vector<std::string> extra = {
            "--mqtt", url, "--mqtt-topic", Base, "--mqtt-spool", dir.File("spool")};
        extra.insert(extra.end(), options.begin(), options.end());
        launch.argv.insert(launch.argv.begin() + 1, extra.begin(), extra.end());
        return launch;
    }
    std::string Err(const std::string& name = "log") { return ReadFile(dir.File(name + ".err")); }
    size_t Rows(const std::string& name = "log") {
        return CheckLog(ReadFile(dir.File(name + ".csv")), 2).rows.size();
    }
    // The readings once channel 2 has `count` of them (or a few seconds passed).
    Received Await(const Subscriber& subscriber, size_t count) {
        Received received;
        WaitUntil(
            [&] {
                received = Readings(subscriber.Messages());
                return received.byTopic[Base + "/2"].size() >= count;
            },
            5000);
        return received;
    }
    // A run of its own with the same spool, once the broker is back, sends
    // the backlog; its own rows go elsewhere, so that their elapsed times
    // cannot pass for the backlog's.
    Received SendBacklog(Broker& broker, size_t count) {
        EXPECT_TRUE(broker.Start());
        Subscriber subscriber(dir, broker.Port());
        Child again(Logger(broker.Url(), {"--rows", "1", "--mqtt-topic", "elsewhere"}, "again"));
        EXPECT_EQ(ExitStatus(again), 0) << Err("again");
        return Await(subscriber, count);
    }
    // Every complete row of the log file found among the received readings
    // of both channels, same text, same value, same elapsed time.
    void ExpectEveryRow(const std::string& name, const Received& received, size_t skipLast = 0) {
        const LogCheck log = CheckLog(ReadFile(dir.File(name + ".csv")), 2);
        ASSERT_GT(log.rows.size(), skipLast);
        for (size_t r = 0; r + skipLast < log.rows.size(); ++r) {
            const auto& row = log.rows[r];
            for (int channel = 1; channel <= 2; ++channel) {
                const auto& readings = received.byTopic.at(Base + "/" + std::to_string(channel));
                const auto found = readings.find(std::stol(row[2]));
                ASSERT_NE(found, readings.end()) << "row " << r << " channel " << channel;
                const std::string text = row[2 + static_cast<size_t>(channel)];
                EXPECT_EQ(Field(found->second, "text"), "\"" + text + "\"");
                EXPECT_DOUBLE_EQ(std::stod(Field(found->second, "value")), std::stod(text));
            }
        }
    }
    TempDir dir;
    std::unique_ptr<Simulator> sim;
};

TEST_F(Mqtt, EveryRowArrivesOncePerChannelWithItsValueAndElapsedTime) {
    Broker broker(dir);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(dir, broker.Port());
    Child logger(Logger(broker.Url(), {"--rows", "20"}));
    ASSERT_EQ(ExitStatus(logger), 0) << Err();
    const Received received = Await(subscriber, 20);
    ExpectEveryRow("log", received);
    EXPECT_EQ(received.byTopic.at(Base + "/1").size(), 20u);
    std::vector<std::string> statuses;
    std::string channels;
    for (const auto& message : subscriber.Messages()) {
        if (message.topic == Base + "/status") statuses.push_back(message.payload);
        if (message.topic == Base + "/channels") channels = message.payload;
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"online", "offline"}));
    EXPECT_NE(channels.find(R"({"number":2,"caption":"Channel 2","station":2,"format":"00.000")"),
              std::string::npos)
        << channels;
    EXPECT_NE(Err().find("MQTT messages acknowledged: 40\n"), std::string::npos) << Err();
}

TEST_F(Mqtt, ABrokerAway20SecondsAndBackLosesNothingAndKeepsTheOrder) {
    Broker broker(dir);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(dir, broker.Port());
    Child logger(Logger(broker.Url(), {}));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    broker.Stop();
    std::this_thread::sleep_for(std::chrono::seconds(20));
    ASSERT_TRUE(broker.Start());
    // The logger's next try, a back-off step (at most 12 s by now) later.
    const auto connects = [&] {
        return Err().rfind("connected to the broker") > Err().find("lost");
    };
    EXPECT_TRUE(WaitUntil(connects, 20000)) << Err();
    logger.Signal(SIGTERM);
    ASSERT_EQ(ExitStatus(logger), 0) << Err();
    ASSERT_GT(Rows(), 400u); // 20 s at 50 ms away
    const Received received = Await(subscriber, Rows());
    ExpectEveryRow("log", received);
    for (const auto& [topic, order] : received.order)
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << topic;
    EXPECT_NE(Err().find("MQTT reconnects: 1\n"), std::string::npos) << Err();
}

TEST_F(Mqtt, TheBacklogOfAKilledRunGoesOutWithTheNextRun) {
    Broker broker(dir); // away
    Child first(Logger(broker.Url(), {}, "first"));
    ASSERT_TRUE(WaitUntil([&] { return CompleteLines(dir.File("first.csv")) > 20; }, 10000));
    first.Signal(SIGKILL);
    first.Wait(5000);
    // The row the kill came after may have reached the file, not the spool.
    ExpectEveryRow("first", SendBacklog(broker, Rows("first") - 1), 1);
    const long told = Figure(Err("again"), R"((\d+) messages of an earlier run wait in the spool)");
    EXPECT_GE(told, static_cast<long>(Rows("first") - 1) * 2) << Err("again");
}

TEST_F(Mqtt, ASpoolFullDuringAnOutageDropsTheOldestAndEndsWithStatus3) {
    Broker broker(dir); // away
    Child logger(Logger(broker.Url(), {"--seconds", "2", "--mqtt-spool-max", "4K"}));
    ASSERT_EQ(ExitStatus(logger), 3) << Err();
    const long dropped = Figure(Err(), R"(MQTT messages dropped: (\d+)\n)");
    const long waiting = Figure(Err(), R"(for the next run: (\d+) )");
    EXPECT_EQ(dropped + waiting, static_cast<long>(Rows() * 2)) << Err();
    EXPECT_GT(dropped, 0);
    EXPECT_LT(waiting * 100, 4096); // about 100 bytes a message
    // What is left is the newest.
    const LogCheck log = CheckLog(ReadFile(dir.File("log.csv")), 2);
    auto received = SendBacklog(broker, static_cast<size_t>(waiting / 2));
    EXPECT_EQ(received.byTopic[Base + "/2"].count(std::stol(log.rows.back()[2])), 1u);
    EXPECT_EQ(received.byTopic[Base + "/1"].count(std::stol(log.rows.front()[2])), 0u);
}

TEST_F(Mqtt, ABrokerThatNeverAnswersDoesNotHoldUpTheRows) {
    // The kernel takes the connection into the listen queue; nobody answers.
    // After 10 s of silence the logger gives up on it and tries again.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ::listen(listener, 4);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    Child logger(
        Logger("mqtt://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), {"--seconds", "8"}));
    const int status = ExitStatus(logger);
    ::close(listener);
    ASSERT_EQ(status, 0) << Err();
    const LogCheck log = CheckLog(ReadFile(dir.File("log.csv")), 2);
    ASSERT_GT(log.rows.size(), 100u); // 8 s at 50 ms, the start's wait included
    for (size_t r = 1; r < log.rows.size(); ++r)
        EXPECT_LE(std::stol(log.rows[r][2]) - std::stol(log.rows[r - 1][2]), 150) << r;
    EXPECT_NE(Err().find("accepted the connection but did not answer"), std::string::npos) << Err();
}

// A broker that wants TLS with a client certificate and a password: what it
// refuses at start ends the run with status 1 and says why.
TEST_F(Mqtt, TlsAndPasswordsThatTheBrokerRefusesEndTheStartWithStatus1) {
    ASSERT_TRUE(MakeCertificates(dir)) << ReadFile(dir.File("openssl.log"));
    const std::string passwords = dir.File("passwords");
    ASSERT_EQ(std::system(("mosquitto_passwd -b -c " + passwords + " logger s3cret").c_str()), 0);
    Broker broker(dir, {"cafile " + dir.File("ca.pem"), "certfile " + dir.File("server.pem"),
                        "keyfile " + dir.File("server.key"), "require_certificate true",
                        "password_file " + passwords, "allow_anonymous false"});
    ASSERT_TRUE(broker.Start());
    WriteFile(dir.File("good"), "logger:s3cret\n");
    WriteFile(dir.File("bad"), "logger:guess\n");
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(broker.Port());
    const std::string tls = "the TLS check of the broker at 127.0.0.1:";
    const struct {
        std::string name, ca, auth;
        bool certificate;
        int status;
        std::string told;
    } cases[] = {
        {"good", "ca.pem", "good", true, 0, "MQTT messages acknowledged: 6\n"},
        {"wrongca", "other.pem", "good", true, 1, tls},
        {"nocert", "ca.pem", "good", false, 1, tls},
        {"badpassword", "ca.pem", "bad", true, 1,
         "check the user name and password in --mqtt-auth"},
        {"noauth", "ca.pem", "", true, 1,
         "it wants a user name and password, given with --mqtt-auth"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> options = {"--rows", "3", "--mqtt-cafile", dir.File(c.ca)};
        if (c.certificate)
            options.insert(options.end(), {"--mqtt-cert", dir.File("client.pem"), "--mqtt-key",
                                           dir.File("client.key")});
        if (!c.auth.empty()) options.insert(options.end(), {"--mqtt-auth", dir.File(c.auth)});
        Child logger(Logger(url, options, c.name));
        EXPECT_EQ(ExitStatus(logger), c.status) << c.name;
        EXPECT_NE(Err(c.name).find(c.told), std::string::npos) << c.name << ": " << Err(c.name);
    }
}

} // namespace
