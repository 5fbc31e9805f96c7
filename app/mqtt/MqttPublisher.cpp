#include "mqtt/MqttPublisher.h"

#include <mosquitto.h>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int KeepAliveSeconds = 30;
constexpr auto StartWait = milliseconds(3000);   // for the first connection at start
constexpr auto AnswerWait = milliseconds(10000); // for a CONNACK
constexpr auto FirstBackOff = milliseconds(1000);
constexpr auto LongestBackOff = milliseconds(30000);
// Between the broker's return and the next try lies up to one back-off
// step; growing by half rather than doubling, the step stays about half
// the outage so far, and the backlog follows the broker sooner.
constexpr double BackOffGrowth = 1.5;
constexpr auto LongestSleep = milliseconds(1000); // keep-alive and the figures
constexpr auto ShortSleep = milliseconds(100);    // while connecting or stopping
constexpr auto DrainWait = milliseconds(2000);    // for the backlog at the end
constexpr size_t InFlightWindow = 1000;

std::string N(int64_t value) {
    return std::to_string(value);
}

bool TlsTrouble(const std::string& libraryError) {
    return libraryError.find("OpenSSL") != std::string::npos ||
           libraryError.find("TLS") != std::string::npos;
}

class LibraryUse {
  public:
    LibraryUse() { mosquitto_lib_init(); }
};

class Publisher final : public MqttPublisher {
  public:
    Publisher(const MqttOptions& options, std::string channelsJson, MqttSpool spool)
        : m_options(options), m_channels(std::move(channelsJson)), m_spool(std::move(spool)),
          m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Publisher() override {
        Stop();
        if (m_client) mosquitto_destroy(m_client);
        if (m_wakeFd >= 0) ::close(m_wakeFd);
    }

    bool Begin(std::string& error);
    void Offer(std::vector<SpoolMessage> messages) override {
        {
            std::lock_guard lock(m_mutex);
            m_offered.push_back(std::move(messages));
        }
        Wake();
    }
    MqttCounts Counts() const override {
        std::lock_guard lock(m_mutex);
        return m_counts;
    }
    std::vector<std::string> TakeNotices() override {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_notices, {});
    }
    void Stop() override {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        Wake();
        if (m_thread.joinable()) m_thread.join();
    }

  private:
    enum class Link { Idle, Connecting, Connected };
    enum class Outcome { Pending, Connected, Unreachable, Refused };
    struct InFlight {
        int mid;
        int64_t start, end;
        bool acknowledged;
    };

    void Run();
    // The worker sleeps in poll() on the broker's socket and on m_wakeFd,
    // so that a row offered goes out at once rather than on the next beat.
    void Wake() {
        const uint64_t one = 1;
        if (::write(m_wakeFd, &one, sizeof one) < 0) {
        } // the counter is full: the worker is awake anyway
    }
    void Sleep(Clock::time_point now, bool stopping);
    void StoreOffered(bool& stopping);
    void Connect();
    void Failed(int rc, int error);
    void Lost(const std::string& why);
    void SendWaiting();
    void Finish();
    void Notice(const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_notices.push_back(text);
    }
    void Settle(Outcome outcome, const std::string& why) {
        std::lock_guard lock(m_mutex);
        if (m_outcome != Outcome::Pending) return;
        m_outcome = outcome;
        m_outcomeWhy = why;
        m_outcomeSeen.notify_all();
    }
    std::string Where() const { return m_options.host + ":" + std::to_string(m_options.port); }

    static void OnConnect(mosquitto*, void* self, int rc) {
        static_cast<Publisher*>(self)->Connected(rc);
    }
    static void OnDisconnect(mosquitto*, void* self, int rc) {
        auto* publisher = static_cast<Publisher*>(self);
        if (publisher->m_link == Link::Idle) return;
        if (rc == 0)
            publisher->Lost("disconnected");
        else
            publisher->Failed(rc, errno);
    }
    static void OnPublish(mosquitto*, void* self, int mid) {
        static_cast<Publisher*>(self)->Acknowledged(mid);
    }
    static void OnLog(mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) static_cast<Publisher*>(self)->m_lastLibraryError = text;
    }
    void Connected(int rc);
    void Acknowledged(int mid);

    LibraryUse m_library;
    MqttOptions m_options;
    std::string m_channels;
    MqttSpool m_spool;
    int m_wakeFd;
    mosquitto* m_client = nullptr;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards what the caller's thread shares with the worker
    std::condition_variable m_outcomeSeen;
    std::vector<std::vector<SpoolMessage>> m_offered;
    bool m_stopping = false;
    MqttCounts m_counts;
    std::vector<std::string> m_notices;
    Outcome m_outcome = Outcome::Pending;
    std::string m_outcomeWhy;

    // The worker's own.
    Link m_link = Link::Idle;
    bool m_everConnected = false;
    bool m_attempted = false;
    Clock::time_point m_attemptStart{}, m_nextAttempt{};
    milliseconds m_backOff = FirstBackOff;
    std::string m_lastLibraryError;
    std::string m_lastLoss;
    int64_t m_cursor = 0;   // the next message to send
    int64_t m_firstNew = 0; // messages from here on were never sent in this run
    std::deque<InFlight> m_inFlight;
    int64_t m_published = 0, m_acknowledged = 0, m_reconnects = 0;
    int m_offlineMid = -1;
    bool m_offlineAcknowledged = false;
    bool m_storeFailureTold = false;
    int64_t m_droppedTold = 0;
};

bool Publisher::Begin(std::string& error) {
    if (m_wakeFd < 0) {
        error = std::string("cannot set up the MQTT thread: ") + std::strerror(errno);
        return false;
    }
    const std::string id = "tarnvik-log-" + std::to_string(::getpid()) + "-" +
                           std::to_string(Clock::now().time_since_epoch().count() % 1000000);
    m_client = mosquitto_new(id.c_str(), true, this);
    if (!m_client) {
        error = "cannot set up the MQTT client";
        return false;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m_client, 0);
    mosquitto_connect_callback_set(m_client, OnConnect);
    mosquitto_disconnect_callback_set(m_client, OnDisconnect);
    mosquitto_publish_callback_set(m_client, OnPublish);
    mosquitto_log_callback_set(m_client, OnLog);
    const std::string status = m_options.topic + "/status";
    mosquitto_will_set(m_client, status.c_str(), 7, "offline", 1, true);
    if (!m_options.user.empty())
        mosquitto_username_pw_set(m_client, m_options.user.c_str(), m_options.password.c_str());
    if (m_options.tls) {
        const char* caFile = m_options.caFile.empty() ? nullptr : m_options.caFile.c_str();
        const int rc = mosquitto_tls_set(
            m_client, caFile, caFile ? nullptr : "/etc/ssl/certs",
            m_options.certFile.empty() ? nullptr : m_options.certFile.c_str(),
            m_options.keyFile.empty() ? nullptr : m_options.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("cannot use the TLS files: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    m_cursor = m_firstNew = m_spool.Front(); // a backlog counts as published by this run
    if (m_spool.Waiting() > 0)
        m_notices.push_back(N(m_spool.Waiting()) +
                            " messages of an earlier run wait in the spool " + m_options.spoolDir +
                            "; they go out first");
    m_thread = std::thread([this] { Run(); });

    std::unique_lock lock(m_mutex);
    m_outcomeSeen.wait_for(lock, StartWait, [&] { return m_outcome != Outcome::Pending; });
    if (m_outcome == Outcome::Refused) {
        error = m_outcomeWhy;
        return false;
    }
    if (m_outcome != Outcome::Connected)
        m_notices.push_back("the broker at " + Where() + " cannot be reached (" +
                            (m_outcomeWhy.empty() ? "no answer yet" : m_outcomeWhy) +
                            "); messages are spooled until it can");
    return true;
}

void Publisher::Run() {
    pthread_setname_np(pthread_self(), "tarnvik-mqtt"); // for top -H and mqtt-bench
    bool stopping = false;
    auto stopBy = Clock::time_point::max();
    while (true) {
        StoreOffered(stopping);
        const auto now = Clock::now();
        if (stopping && stopBy == Clock::time_point::max()) stopBy = now + DrainWait;
        if (m_link == Link::Idle && now >= m_nextAttempt && !stopping) Connect();
        if (m_link == Link::Connecting && Clock::now() - m_attemptStart > AnswerWait) {
            mosquitto_disconnect(m_client);
            Lost("the broker accepted the connection but did not answer");
        }
        if (m_link == Link::Connected) SendWaiting();
        Sleep(Clock::now(), stopping);
        if (mosquitto_socket(m_client) >= 0) {
            // The library's own loop, without its wait: it reads, writes and
            // keeps the session alive as far as the socket allows now.
            const int rc = mosquitto_loop(m_client, 0, 1);
            if (rc != MOSQ_ERR_SUCCESS) Failed(rc, errno);
        }
        if (const int64_t shift = m_spool.Flush(); shift > 0) {
            m_cursor = std::max<int64_t>(0, m_cursor - shift);
            m_firstNew = std::max<int64_t>(0, m_firstNew - shift);
            for (auto& sent : m_inFlight) {
                sent.start -= shift;
                sent.end -= shift;
            }
        }
        {
            std::lock_guard lock(m_mutex);
            m_counts = {m_published,       m_acknowledged, m_spool.Waiting(),
                        m_spool.Dropped(), m_reconnects,   m_link == Link::Connected};
        }
        if (m_spool.Dropped() > 0 && m_droppedTold == 0)
            Notice("the spool " + m_options.spoolDir + " is full (--mqtt-spool-max " +
                   std::to_string(m_options.spoolMax) + " bytes): the oldest messages are dropped");
        m_droppedTold = m_spool.Dropped();
        if (stopping &&
            (m_spool.Waiting() == 0 || Clock::now() >= stopBy || m_link != Link::Connected)) {
            Finish();
            return;
        }
    }
}

void Publisher::Sleep(Clock::time_point now, bool stopping) {
    auto until = now + (stopping || m_link == Link::Connecting ? ShortSleep : LongestSleep);
    if (m_link == Link::Idle && !stopping) until = std::min(until, m_nextAttempt);
    const int socket = mosquitto_socket(m_client);
    pollfd watch[2] = {{m_wakeFd, POLLIN, 0}, {socket, POLLIN, 0}};
    if (mosquitto_want_write(m_client)) watch[1].events |= POLLOUT;
    const auto wait = std::chrono::ceil<milliseconds>(until - now).count();
    if (::poll(watch, socket >= 0 ? 2 : 1, static_cast<int>(std::max<int64_t>(wait, 0))) > 0 &&
        watch[0].revents != 0) {
        uint64_t count = 0;
        if (::read(m_wakeFd, &count, sizeof count) < 0) {
        } // only this thread reads the counter: it was set, so this takes it
    }
}

void Publisher::StoreOffered(bool& stopping) {
    std::vector<std::vector<SpoolMessage>> offered;
    {
        std::lock_guard lock(m_mutex);
        offered.swap(m_offered);
        stopping = m_stopping;
    }
    std::vector<SpoolMessage> all;
    for (auto& batch : offered)
        for (auto& message : batch)
            all.push_back(std::move(message));
    if (all.empty()) return;
    std::string error;
    if (!m_spool.Append(all, error)) {
        if (!m_storeFailureTold) Notice(error + "; these messages are dropped");
        m_storeFailureTold = true;
    } else {
        m_storeFailureTold = false;
    }
    if (m_cursor < m_spool.Front()) m_cursor = m_spool.Front();
    if (m_firstNew < m_spool.Front()) m_firstNew = m_spool.Front();
}

void Publisher::Connect() {
    m_lastLibraryError.clear();
    const int rc = m_attempted ? mosquitto_reconnect_async(m_client)
                               : mosquitto_connect_async(m_client, m_options.host.c_str(),
                                                         m_options.port, KeepAliveSeconds);
    const int error = errno;
    m_attempted = true;
    m_attemptStart = Clock::now();
    if (rc == MOSQ_ERR_SUCCESS) {
        m_link = Link::Connecting;
        return;
    }
    m_link = Link::Connecting; // so that Lost schedules the next attempt
    Failed(rc, error);
}

// The TLS check shows as a failed handshake (with OpenSSL's reason logged),
// or, when the broker rejects the logger's certificate after the handshake,
// as EPROTO from a session the broker ended. Either, at start, is a setting
// to correct rather than an outage to wait out.
void Publisher::Failed(int rc, int error) {
    const bool libraryTold = TlsTrouble(m_lastLibraryError);
    const bool endedSession = rc == MOSQ_ERR_ERRNO && error == EPROTO;
    std::string why = libraryTold            ? m_lastLibraryError
                      : rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(error))
                                             : std::string(mosquitto_strerror(rc));
    if (m_options.tls && endedSession && !libraryTold)
        why = "the broker ended the TLS session, as one does that wants a client "
              "certificate (--mqtt-cert, --mqtt-key)";
    if (m_options.tls && !m_everConnected && (rc == MOSQ_ERR_TLS || libraryTold || endedSession))
        Settle(Outcome::Refused, "the TLS check of the broker at " + Where() + " failed: " + why);
    if (m_link != Link::Idle) Lost(why);
}

void Publisher::Lost(const std::string& why) {
    const Link was = m_link;
    m_link = Link::Idle;
    if (was == Link::Connected) {
        Notice("lost the broker at " + Where() + " (" + why + "); messages are spooled");
        m_backOff = FirstBackOff;
    } else if (why != m_lastLoss) {
        Notice("cannot connect to the broker at " + Where() + ": " + why);
    }
    m_lastLoss = why;
    Settle(Outcome::Unreachable, why); // unless a refusal was settled first
    m_nextAttempt = Clock::now() + m_backOff;
    m_backOff = std::min(std::chrono::duration_cast<milliseconds>(m_backOff * BackOffGrowth),
                         LongestBackOff);
}

void Publisher::Connected(int rc) {
    if (rc != 0) {
        std::string why = mosquitto_connack_string(rc);
        if (!why.empty() && why.back() == '.') why.pop_back();
        // Credentials the broker refuses are a mistake to correct, not an
        // outage to wait out: at start they end the run.
        if (rc == 4 || rc == 5)
            Settle(Outcome::Refused,
                   "the broker at " + Where() + " refused the connection (" + why + "): " +
                       (m_options.authFile.empty()
                            ? "it wants a user name and password, given with --mqtt-auth FILE"
                            : "check the user name and password in --mqtt-auth " +
                                  m_options.authFile));
        Lost(why);
        return;
    }
    m_link = Link::Connected;
    if (m_everConnected) ++m_reconnects;
    m_everConnected = true;
    m_backOff = FirstBackOff;
    m_lastLoss.clear();
    // What was in flight when the link dropped is sent again from the first
    // unacknowledged message on, so the order stays.
    m_inFlight.clear();
    m_cursor = m_spool.Front();
    const std::string status = m_options.topic + "/status";
    const std::string channels = m_options.topic + "/channels";
    mosquitto_publish(m_client, nullptr, status.c_str(), 6, "online", 1, true);
    mosquitto_publish(m_client, nullptr, channels.c_str(), static_cast<int>(m_channels.size()),
                      m_channels.data(), 1, true);
    Notice("connected to the broker at " + Where() + ", topics " + m_options.topic + "/...");
    Settle(Outcome::Connected, {});
}

void Publisher::SendWaiting() {
    while (m_inFlight.size() < InFlightWindow) {
        int64_t next = 0;
        const auto message = m_spool.Read(m_cursor, next);
        if (!message) return;
        int mid = 0;
        const int rc = mosquitto_publish(m_client, &mid, message->topic.c_str(),
                                         static_cast<int>(message->payload.size()),
                                         message->payload.data(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS) return; // the link is going; the loop tells
        m_inFlight.push_back({mid, m_cursor, next, false});
        if (m_cursor >= m_firstNew) {
            ++m_published;
            m_firstNew = next;
        }
        m_cursor = next;
    }
}

void Publisher::Acknowledged(int mid) {
    if (mid == m_offlineMid) m_offlineAcknowledged = true;
    for (auto& sent : m_inFlight)
        if (sent.mid == mid) sent.acknowledged = true;
    while (!m_inFlight.empty() && m_inFlight.front().acknowledged) {
        m_spool.Acknowledge(m_inFlight.front().start, m_inFlight.front().end);
        ++m_acknowledged;
        m_inFlight.pop_front();
    }
}

void Publisher::Finish() {
    if (m_link == Link::Connected) {
        const std::string status = m_options.topic + "/status";
        mosquitto_publish(m_client, &m_offlineMid, status.c_str(), 7, "offline", 1, true);
        const auto until = Clock::now() + milliseconds(1000);
        while (!m_offlineAcknowledged && m_link == Link::Connected && Clock::now() < until)
            mosquitto_loop(m_client, 10, 1);
        m_link = Link::Idle;
        mosquitto_disconnect(m_client);
        mosquitto_loop(m_client, 10, 1);
    }
    m_spool.Flush(true);
    std::lock_guard lock(m_mutex);
    m_counts = {m_published,       m_acknowledged, m_spool.Waiting(),
                m_spool.Dropped(), m_reconnects,   false};
}

} // namespace

std::string MqttStatusText(const MqttCounts& counts) {
    return " | MQTT " + std::string(counts.connected ? "connected" : "not connected") + ": " +
           N(counts.published) + " published, " + N(counts.acknowledged) + " acknowledged, " +
           N(counts.spooled) + " spooled, " + N(counts.dropped) + " dropped, " +
           N(counts.reconnects) + " reconnects";
}

std::string MqttSummaryText(const MqttCounts& counts, const std::string& spoolDir) {
    std::string text = "MQTT messages published: " + N(counts.published) + "\n" +
                       "MQTT messages acknowledged: " + N(counts.acknowledged) + "\n" +
                       "MQTT messages dropped: " + N(counts.dropped) + "\n" +
                       "MQTT reconnects: " + N(counts.reconnects) + "\n";
    if (counts.spooled > 0)
        text += "MQTT messages waiting in the spool " + spoolDir +
                " for the next run: " + N(counts.spooled) + " (not lost)\n";
    return text;
}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(const MqttOptions& options,
                                                    const std::string& channelsJson,
                                                    std::string& error) {
    auto spool = MqttSpool::Open(options.spoolDir, options.spoolMax, error);
    if (!spool) return nullptr;
    auto publisher = std::make_unique<Publisher>(options, channelsJson, std::move(*spool));
    if (!publisher->Begin(error)) return nullptr;
    return publisher;
}
