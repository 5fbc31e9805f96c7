// The MQTT output under load: K tarnvik-log loggers (24 channels, a row
// every 120 ms) against one vexa-sim with a port for each, publishing to a
// Mosquitto of the benchmark's own, read back by a subscriber in this
// process. Prints, for each K: messages offered per second, acknowledged by
// the broker, received, lost, the latency from a row's time to its arrival
// (p50, p99) and the CPU of a logger; then a run with the broker stopped
// for a while: messages lost and the time the backlog takes to drain.
//
//   mqtt-bench [--loggers 1,10,50] [--seconds S] [--outage-loggers N] [--outage S]
//
// Defaults: 1, 10 and 50 loggers for 20 s each; the outage run with 10
// loggers and the broker away for 30 s (0 skips it). Exit status 0 when no
// message is lost.
#include "Harness.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace reliability;
using SystemClock = std::chrono::system_clock;

namespace {

constexpr int Channels = 24;
// The shortest row time the logger takes for 24 channels (5 ms a channel).
constexpr int RowMs = 120;

struct Options {
    std::vector<int> loggers = {1, 10, 50};
    double seconds = 20;
    int outageLoggers = 10;
    double outageSeconds = 30;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], value = argv[i + 1];
        if (arg == "--loggers") {
            o.loggers.clear();
            std::istringstream list(value);
            for (std::string k; std::getline(list, k, ',');)
                if (std::atoi(k.c_str()) > 0) o.loggers.push_back(std::atoi(k.c_str()));
            if (o.loggers.empty()) return false;
        } else if (arg == "--seconds" && std::atof(value.c_str()) > 0) {
            o.seconds = std::atof(value.c_str());
        } else if (arg == "--outage-loggers" && std::atoi(value.c_str()) >= 0) {
            o.outageLoggers = std::atoi(value.c_str());
        } else if (arg == "--outage" && std::atof(value.c_str()) > 0) {
            o.outageSeconds = std::atof(value.c_str());
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

// "2024-03-05T14:07:09.123Z" in a payload's "time"; nothing when absent.
std::optional<SystemClock::time_point> RowTime(const std::string& payload) {
    const size_t at = payload.find("\"time\":\"");
    std::tm tm{};
    int ms = 0;
    if (at == std::string::npos ||
        std::sscanf(payload.c_str() + at + 8, "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return SystemClock::from_time_t(timegm(&tm)) + std::chrono::milliseconds(ms);
}

long Elapsed(const std::string& payload) {
    const size_t at = payload.find("\"elapsed\":");
    return at == std::string::npos ? -1 : std::atol(payload.c_str() + at + 10);
}

struct Arrival {
    std::string topic, payload;
    SystemClock::time_point at;
};

// A QoS 1 subscriber with a session the broker keeps across its restarts.
class Subscriber {
  public:
    explicit Subscriber(int port) {
        mosquitto_lib_init();
        m_client = mosquitto_new("mqtt-bench-subscriber", false, this);
        mosquitto_reconnect_delay_set(m_client, 1, 1, false);
        mosquitto_connect_callback_set(m_client, [](mosquitto* client, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(client, nullptr, "bench/#", 1);
        });
        mosquitto_message_callback_set(
            m_client, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* subscriber = static_cast<Subscriber*>(self);
                const std::string payload(static_cast<const char*>(message->payload),
                                          static_cast<size_t>(message->payloadlen));
                std::lock_guard lock(subscriber->m_mutex);
                subscriber->m_arrivals.push_back({message->topic, payload, SystemClock::now()});
            });
        mosquitto_connect_async(m_client, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_client);
    }
    ~Subscriber() {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
        mosquitto_lib_cleanup();
    }
    size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_arrivals.size();
    }
    std::vector<Arrival> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_arrivals, {});
    }

  private:
    mosquitto* m_client;
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t at = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

// CPU seconds (user + system) of the logger's MQTT thread, found by its name.
double MqttThreadSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code gone; // the logger ended
    for (const auto& task : std::filesystem::directory_iterator(tasks, gone)) {
        if (ReadFile(task.path().string() + "/comm") != "tarnvik-mqtt\n") continue;
        const std::string stat = ReadFile(task.path().string() + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::atof(field.c_str()); // utime, stime
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return 0;
}

long SummaryFigure(const std::string& err, const std::string& name) {
    const size_t at = err.find(name + ": ");
    return at == std::string::npos ? 0 : std::atol(err.c_str() + at + name.size() + 2);
}

struct Result {
    long offered = 0, acknowledged = 0, received = 0, duplicates = 0, lost = 0, waiting = 0;
    double offeredPerSecond = 0, p50 = 0, p99 = 0, cpuPercent = 0, mqttCpuPercent = 0,
           drainSeconds = -1;
    bool clean = true;
};

class Bench {
  public:
    Bench(const Options& o) : m_options(o) {
        const int ports =
            std::max(o.outageLoggers, *std::max_element(o.loggers.begin(), o.loggers.end()));
        std::vector<std::string> config;
        for (int p = 1; p <= ports; ++p) {
            config.push_back("port COM" + std::to_string(p) + " bus 115200");
            for (int s = 1; s <= Channels; ++s)
                config.push_back("station " + std::to_string(s) + " value=" + std::to_string(s));
        }
        m_sim = std::make_unique<Simulator>(m_dir, config);
        for (int p = 1; p <= ports; ++p) {
            WorkspaceShape shape;
            shape.port = p;
            shape.channels = Channels;
            shape.logInterval = RowMs;
            WriteWorkspaceFile(m_dir.File("stand" + std::to_string(p) + ".lws"), shape);
        }
        m_broker = std::make_unique<Broker>(m_dir);
    }
    bool Ready() { return m_sim->Ready() && m_broker->Start(); }

    // K loggers for `seconds`; with an outage, the broker is away from
    // `outageAt` for `outageSeconds`.
    Result Run(int loggers, double seconds, double outageAt = -1, double outageSeconds = 0) {
        ++m_run;
        Subscriber subscriber(m_broker->Port());
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // subscribed
        std::vector<std::unique_ptr<Child>> children;
        for (int k = 1; k <= loggers; ++k) {
            const std::string name = Name(k);
            ChildLaunch launch = LoggerLaunch(m_dir.File("stand" + std::to_string(k) + ".lws"),
                                              m_dir.File(name + ".csv"), m_sim->PortsDir(),
                                              m_dir.File(name + ".err"));
            launch.argv.insert(launch.argv.begin() + 1,
                               {"--seconds", std::to_string(seconds), "--mqtt", m_broker->Url(),
                                "--mqtt-topic", "bench/" + name, "--mqtt-spool",
                                m_dir.File(name + ".spool")});
            children.push_back(std::make_unique<Child>(launch));
        }
        const auto started = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2)); // settled
        std::vector<Usage> before;
        std::vector<double> mqttBefore;
        for (auto& child : children) {
            before.push_back(ProcessUsage(child->Pid()).value_or(Usage{}));
            mqttBefore.push_back(MqttThreadSeconds(child->Pid()));
        }
        const auto measureFrom = std::chrono::steady_clock::now();
        SystemClock::time_point restarted{};
        if (outageAt >= 0) {
            std::this_thread::sleep_until(started + std::chrono::duration<double>(outageAt));
            m_broker->Stop();
            std::this_thread::sleep_for(std::chrono::duration<double>(outageSeconds));
            m_broker->Start();
            restarted = SystemClock::now();
        }
        // The CPU up to the end of the run, read before the loggers stop.
        std::this_thread::sleep_until(started + std::chrono::duration<double>(seconds - 0.5));
        double cpu = 0, mqttCpu = 0;
        for (size_t k = 0; k < children.size(); ++k) {
            cpu += ProcessUsage(children[k]->Pid()).value_or(before[k]).cpuSeconds -
                   before[k].cpuSeconds;
            mqttCpu += MqttThreadSeconds(children[k]->Pid()) - mqttBefore[k];
        }
        const double measured =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - measureFrom).count();
        Result r;
        r.cpuPercent = 100 * cpu / measured / loggers;
        r.mqttCpuPercent = 100 * mqttCpu / measured / loggers;
        for (size_t k = 0; k < children.size(); ++k) {
            const auto status = children[k]->Wait(30000);
            const bool clean = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
            if (!clean && r.clean)
                std::fprintf(stderr, "mqtt-bench: a logger failed:\n%s",
                             ReadFile(m_dir.File(Name(static_cast<int>(k) + 1) + ".err")).c_str());
            r.clean = r.clean && clean;
        }
        // The subscriber may still be taking the last messages.
        for (size_t last = 0; subscriber.Count() != last;) {
            last = subscriber.Count();
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const auto arrivals = subscriber.Take();

        std::map<std::string, std::set<long>> seen; // topic -> elapsed
        std::vector<double> latencies;
        SystemClock::time_point lastBacklog{};
        for (const auto& a : arrivals) {
            const auto time = RowTime(a.payload);
            if (!time) continue; // status, channels
            if (!seen[a.topic].insert(Elapsed(a.payload)).second) {
                ++r.duplicates;
                continue;
            }
            ++r.received;
            latencies.push_back(std::chrono::duration<double, std::milli>(a.at - *time).count());
            if (*time < restarted) lastBacklog = std::max(lastBacklog, a.at);
        }
        for (int k = 1; k <= loggers; ++k) {
            const std::string err = ReadFile(m_dir.File(Name(k) + ".err"));
            r.offered += static_cast<long>(
                CheckLog(ReadFile(m_dir.File(Name(k) + ".csv")), Channels).rows.size() * Channels);
            r.acknowledged += SummaryFigure(err, "MQTT messages acknowledged");
            r.waiting += SummaryFigure(err, "for the next run");
        }
        r.lost = r.offered - r.received - r.waiting; // what waits in a spool is not lost
        r.offeredPerSecond = static_cast<double>(r.offered) / seconds;
        r.p50 = Percentile(latencies, 0.5);
        r.p99 = Percentile(latencies, 0.99);
        if (outageAt >= 0 && lastBacklog > restarted)
            r.drainSeconds = std::chrono::duration<double>(lastBacklog - restarted).count();
        return r;
    }

  private:
    std::string Name(int k) const { return "r" + std::to_string(m_run) + "-l" + std::to_string(k); }

    Options m_options;
    TempDir m_dir;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<Broker> m_broker;
    int m_run = 0;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: mqtt-bench [--loggers 1,10,50] [--seconds S] "
                             "[--outage-loggers N] [--outage S]\n");
        return 1;
    }
    Bench bench(o);
    if (!bench.Ready()) {
        std::fprintf(stderr, "mqtt-bench: vexa-sim or mosquitto did not start\n");
        return 1;
    }
    std::printf("mqtt-bench: %d channels, a row every %d ms, %.0f s a run, QoS 1, loopback\n",
                Channels, RowMs, o.seconds);
    std::printf("| loggers | offered/s | acknowledged | received | duplicates | lost | p50 | p99 | "
                "CPU per logger | of it, MQTT thread |\n"
                "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |\n");
    bool ok = true;
    for (int k : o.loggers) {
        const Result r = bench.Run(k, o.seconds);
        std::printf(
            "| %d | %.0f | %ld | %ld | %ld | %ld | %.1f ms | %.1f ms | %.1f %% | %.2f %% |\n", k,
            r.offeredPerSecond, r.acknowledged, r.received, r.duplicates, r.lost, r.p50, r.p99,
            r.cpuPercent, r.mqttCpuPercent);
        std::fflush(stdout);
        ok = ok && r.lost == 0 && r.clean;
    }
    if (o.outageLoggers > 0) {
        const double seconds = 5 + o.outageSeconds + 20;
        const Result r = bench.Run(o.outageLoggers, seconds, 5, o.outageSeconds);
        std::printf("\n| broker away | loggers | offered | received | lost | waiting in the "
                    "spools at exit | backlog drained after restart |\n"
                    "| --- | --- | --- | --- | --- | --- | --- |\n");
        std::printf("| %.0f s | %d | %ld | %ld | %ld | %ld | %.1f s |\n", o.outageSeconds,
                    o.outageLoggers, r.offered, r.received, r.lost, r.waiting, r.drainSeconds);
        ok = ok && r.lost == 0 && r.clean;
    }
    return ok ? 0 : 2;
}
