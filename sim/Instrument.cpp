#include "Instrument.h"

#include "AsciiLine.h"
#include "BusFrame.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <system_error>

namespace vexasim {

namespace {

constexpr int kBusReadLive = 10;
constexpr int kBusReadLatched = 23;
constexpr int kBusSnap = 103;
constexpr std::string_view kAsciiReadLive = "SYS";
constexpr std::string_view kAsciiReadLatched = "SYSN";
constexpr std::string_view kAsciiSnap = "SNAP";
// A partial request older than this is dropped: the host has given up on it.
constexpr Nanos kRequestGap = 50'000'000;
// No request line is longer; more bytes before a CR are noise.
constexpr size_t kMaxLine = 256;
constexpr Nanos kNanosPerMs = 1'000'000;

std::string FormatReading(float value) {
    char buf[128];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (res.ec != std::errc{}) return "0";
    return std::string(buf, res.ptr);
}

} // namespace

class StationState {
  public:
    StationState(StationConfig& config, uint64_t seed)
        : m_config(config), m_random(seed), m_latched(Live(0)) {}

    int Number() const { return m_config.number; }
    const StationConfig& Config() const { return m_config; }

    float Live(Nanos t) {
        const Reading& r = m_config.reading;
        double v = r.mean;
        if (r.periodSeconds > 0.0)
            v += r.amplitude * std::sin(2.0 * std::numbers::pi * (static_cast<double>(t) / 1e9) /
                                        r.periodSeconds);
        if (r.noise > 0.0) v += std::uniform_real_distribution<double>(-r.noise, r.noise)(m_random);
        return static_cast<float>(v);
    }
    void Snap(Nanos t) { m_latched = Live(t); }
    float Latched() const { return m_latched; }
    std::optional<float> Register(const std::string& name) const {
        const auto it = m_registers.find(name);
        if (it == m_registers.end()) return std::nullopt;
        return it->second;
    }
    // False when the store is full and `name` is a new register: a write
    // to ever new names must not grow the simulator without bound.
    bool Store(const std::string& name, float value) {
        const auto it = m_registers.find(name);
        if (it != m_registers.end()) {
            it->second = value;
            return true;
        }
        if (m_registers.size() >= kMaxRegisters) return false;
        m_registers.emplace(name, value);
        return true;
    }

    Nanos nextStream = -1; // -1: not streaming

  private:
    StationConfig& m_config;
    std::mt19937_64 m_random;
    float m_latched;
    std::map<std::string, float> m_registers;
};

InstrumentPort::InstrumentPort(PortConfig& config, uint64_t seed)
    : m_config(config), m_rx(config.baud), m_tx(config.baud), m_random(seed) {
    m_stations.reserve(config.stations.size());
    for (StationConfig& s : config.stations)
        m_stations.emplace_back(s, seed * 1000003u + static_cast<uint64_t>(s.number));
}

InstrumentPort::~InstrumentPort() = default;

void InstrumentPort::Receive(std::span<const uint8_t> bytes, Nanos now) {
    for (uint8_t b : bytes) {
        const Nanos at = m_rx.Arrive(now);
        if (!m_pending.empty() && at - m_lastArrival > kRequestGap) {
            FinishUnit(m_lastArrival, true, std::move(m_pending));
            m_pending.clear();
            m_inLine = false;
        }
        m_lastArrival = at;
        if (m_config.protocol == Protocol::Bus)
            ReceiveBus(b, at);
        else
            ReceiveAscii(b, at);
    }
}

void InstrumentPort::FinishUnit(Nanos at, bool junk, std::vector<uint8_t> bytes) {
    if (bytes.empty()) return;
    // Neighbouring junk is one unit: a burst of noise is one trace line.
    if (junk && !m_trace.empty() && m_trace.back().kind == TraceUnit::Junk &&
        at - m_trace.back().at <= kRequestGap) {
        auto& prev = m_trace.back().bytes;
        prev.insert(prev.end(), bytes.begin(), bytes.end());
        m_trace.back().at = at;
        return;
    }
    m_trace.push_back({junk ? TraceUnit::Junk : TraceUnit::Request, at, std::move(bytes)});
}

void InstrumentPort::Queue(Nanos at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> copy = bytes;
    if (!m_tx.Schedule(at, std::move(bytes)))
        m_trace.push_back({TraceUnit::Lost, at, std::move(copy)});
}

void InstrumentPort::ReceiveBus(uint8_t byte, Nanos at) {
    m_pending.push_back(byte);
    for (;;) {
        const veldabus::ParseResult r = veldabus::ParseRequest(m_pending);
        if (r.status == veldabus::ParseStatus::NeedMore) return;
        std::vector<uint8_t> unit(m_pending.begin(), m_pending.begin() + r.consumed);
        m_pending.erase(m_pending.begin(), m_pending.begin() + r.consumed);
        if (r.status == veldabus::ParseStatus::Invalid) {
            FinishUnit(at, true, std::move(unit));
            continue;
        }
        FinishUnit(at, false, std::move(unit));
        const veldabus::Request& q = r.request;
        const std::string reg = std::to_string(q.command);
        Verb verb;
        if (q.hasValue) {
            const bool readOnly =
                q.command == kBusReadLive || q.command == kBusReadLatched || q.command == kBusSnap;
            verb = readOnly ? Verb::Refuse : Verb::WriteRegister;
        } else if (q.command == kBusReadLive) {
            verb = Verb::ReadLive;
        } else if (q.command == kBusReadLatched) {
            verb = Verb::ReadLatched;
        } else if (q.command == kBusSnap) {
            verb = Verb::Snap;
        } else {
            verb = Verb::ReadRegister;
        }
        Dispatch(q.station, verb, reg, q.value, at);
    }
}

void InstrumentPort::ReceiveAscii(uint8_t byte, Nanos at) {
    // Flow control travels between lines and inside them alike.
    if (byte == static_cast<uint8_t>(velda_ascii::kXoff) ||
        byte == static_cast<uint8_t>(velda_ascii::kXon)) {
        m_tx.Hold(byte == static_cast<uint8_t>(velda_ascii::kXoff), at);
        FinishUnit(at, false, {byte});
        return;
    }
    if (byte == '!') {
        // A new request begins; whatever came before it is noise.
        FinishUnit(at, true, std::move(m_pending));
        m_pending.clear();
        m_inLine = true;
    }
    m_pending.push_back(byte);
    if (!m_inLine || byte != static_cast<uint8_t>(velda_ascii::kCR)) {
        if (m_pending.size() > kMaxLine) {
            FinishUnit(at, true, std::move(m_pending));
            m_pending.clear();
            m_inLine = false;
        }
        return;
    }
    std::vector<uint8_t> unit = std::move(m_pending);
    m_pending.clear();
    m_inLine = false;
    const std::string line(unit.begin(), unit.end() - 1);
    const auto q = velda_ascii::ParseRequestLine(line);
    FinishUnit(at, !q, std::move(unit));
    if (!q) return;

    using velda_ascii::RequestKind;
    Verb verb = Verb::Refuse;
    float value = 0.0f;
    const bool reading = q->command == kAsciiReadLive || q->command == kAsciiReadLatched;
    if (q->command.empty()) {
        verb = Verb::Refuse;
    } else if (q->kind == RequestKind::Read) {
        verb = q->command == kAsciiReadLive      ? Verb::ReadLive
               : q->command == kAsciiReadLatched ? Verb::ReadLatched
                                                 : Verb::ReadRegister;
    } else if (q->kind == RequestKind::Execute) {
        verb = q->command == kAsciiSnap ? Verb::Snap : Verb::Refuse;
    } else if (!reading && q->command != kAsciiSnap) {
        const auto v = ParseSingleNumber(q->valueText);
        verb = v ? Verb::WriteRegister : Verb::Refuse;
        value = static_cast<float>(v.value_or(0.0));
    }
    Dispatch(q->station, verb, q->command, value, at);
}

void InstrumentPort::Dispatch(int station, Verb verb, const std::string& reg, float value,
                              Nanos at) {
    // Station 0 addresses every station at once and none of them answers,
    // except a USB instrument, which is station 0 itself.
    const bool broadcast = station == 0 && !m_config.usb;
    for (StationState& s : m_stations) {
        if (!broadcast && s.Number() != station) continue;
        const StationConfig& cfg = s.Config();
        if (cfg.faults.silent) continue;
        Reply reply{Reply::Nak};
        if (!cfg.faults.nak) {
            switch (verb) {
            case Verb::ReadLive:
                reply = {Reply::Data, s.Live(at)};
                break;
            case Verb::ReadLatched:
                if (cfg.snap) reply = {Reply::Data, s.Latched()};
                break;
            case Verb::Snap:
                if (cfg.snap) {
                    s.Snap(at);
                    reply = {Reply::Ack};
                }
                break;
            case Verb::ReadRegister:
                if (const auto v = s.Register(reg)) reply = {Reply::Data, *v};
                break;
            case Verb::WriteRegister:
                if (s.Store(reg, value)) reply = {Reply::Ack};
                break;
            case Verb::Refuse:
                break;
            }
        }
        if (!broadcast) SendReply(s, reply, at);
    }
}

std::vector<uint8_t> InstrumentPort::Encode(int station, Reply reply) const {
    const auto st = static_cast<uint8_t>(station);
    if (m_config.protocol == Protocol::Bus) {
        switch (reply.kind) {
        case Reply::Data: {
            const auto f = veldabus::BuildDataReply(st, reply.value);
            return {f.begin(), f.end()};
        }
        case Reply::Ack: {
            const auto f = veldabus::BuildAckReply(st);
            return {f.begin(), f.end()};
        }
        case Reply::Nak: {
            const auto f = veldabus::BuildNakReply(st);
            return {f.begin(), f.end()};
        }
        case Reply::None:
            return {};
        }
        return {};
    }
    std::vector<uint8_t> line;
    if (reply.kind == Reply::Data) {
        const std::string text = FormatReading(reply.value);
        line.assign(text.begin(), text.end());
    } else if (reply.kind == Reply::Nak) {
        line.assign(velda_ascii::kNakText.begin(), velda_ascii::kNakText.end());
    }
    line.push_back(static_cast<uint8_t>(velda_ascii::kCR));
    return line;
}

void InstrumentPort::Corrupt(const Faults& faults, std::vector<uint8_t>& bytes, bool dataReply) {
    if (bytes.empty()) return;
    const bool bus = m_config.protocol == Protocol::Bus;
    // Another station's number: the next one up (255 wraps to 0).
    if (bus && faults.wrongStation) bytes[0] = static_cast<uint8_t>(bytes[0] + 1);
    // The low checksum nibble stays a nibble, so only the sum is wrong.
    if (bus && faults.badChecksum && dataReply) bytes.back() ^= 0x01;
    if (faults.noisePercent > 0 &&
        std::uniform_int_distribution<int>(1, 100)(m_random) <= faults.noisePercent) {
        const size_t at = std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(m_random);
        bytes[at] ^= static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(m_random));
    }
    if (faults.cutOff) bytes.pop_back();
}

void InstrumentPort::SendReply(const StationState& station, Reply reply, Nanos at) {
    std::vector<uint8_t> bytes = Encode(station.Number(), reply);
    const Faults& faults = station.Config().faults;
    Corrupt(faults, bytes, reply.kind == Reply::Data);
    Queue(at + faults.lateMs * kNanosPerMs, std::move(bytes));
}

void InstrumentPort::RunStreams(Nanos now) {
    if (m_config.protocol != Protocol::Ascii) return;
    for (StationState& s : m_stations) {
        const int period = s.Config().streamMs;
        if (period <= 0) {
            s.nextStream = -1;
            continue;
        }
        if (s.nextStream < 0) s.nextStream = now + period * kNanosPerMs;
        while (s.nextStream <= now) {
            // A held line sends nothing: readings are skipped, not queued up.
            if (!m_tx.Held() && !s.Config().faults.silent) {
                std::vector<uint8_t> bytes =
                    Encode(s.Number(), {Reply::Data, s.Live(s.nextStream)});
                Corrupt(s.Config().faults, bytes, true);
                Queue(s.nextStream, std::move(bytes));
            }
            s.nextStream += period * kNanosPerMs;
        }
    }
}

std::vector<uint8_t> InstrumentPort::Transmit(Nanos now) {
    RunStreams(now);
    return m_tx.Take(now);
}

std::optional<Nanos> InstrumentPort::NextEvent() const {
    std::optional<Nanos> next = m_tx.NextEvent();
    for (const StationState& s : m_stations) {
        if (s.Config().streamMs <= 0) continue;
        // A stream just switched on is started by the next Transmit.
        const Nanos t = s.nextStream < 0 ? 0 : s.nextStream;
        if (!next || t < *next) next = t;
    }
    return next;
}

std::vector<TraceUnit> InstrumentPort::TakeTrace() {
    std::vector<TraceUnit> out;
    out.swap(m_trace);
    for (auto& [at, bytes] : m_tx.TakeFinished())
        out.push_back({TraceUnit::Sent, at, std::move(bytes)});
    std::stable_sort(out.begin(), out.end(),
                     [](const TraceUnit& a, const TraceUnit& b) { return a.at < b.at; });
    return out;
}

} // namespace vexasim
