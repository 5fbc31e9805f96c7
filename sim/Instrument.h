// The instruments on one port: they take the bytes the host sends, act on
// each request as a Vexa instrument does and schedule their replies on the
// paced line. Time is passed in, so the whole behaviour runs on any clock.
//
// Commands: bus 10 / ASCII "SYS" read the live reading; bus 103 / "SNAP"
// latches it (to station 0: every station, no reply); bus 23 / "SYSN" read
// the latched one. Any other command is a register: a write stores the value
// (ACK), a read returns it; a read of a register never written, an unknown
// execute and a write to the reading commands are refused (NAK). A station
// holds at most kMaxRegisters registers; a write to one more is refused.
#pragma once

#include "SimConfig.h"
#include "Wire.h"

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace vexasim {

// What the trace records: a request received (or an XON/XOFF byte), a run
// of received bytes that formed no request, a reply or stream line sent,
// or one the line had no room for.
struct TraceUnit {
    enum Kind { Request, Junk, Sent, Lost } kind = Request;
    Nanos at = 0; // when its last byte arrived or went out
    std::vector<uint8_t> bytes;
};

inline constexpr size_t kMaxRegisters = 256;

class StationState; // reading, latch and registers of one station

class InstrumentPort {
  public:
    // `config` must outlive the port; run-time changes to it take effect at
    // the next request. `seed` makes waveform noise and line noise repeatable.
    InstrumentPort(PortConfig& config, uint64_t seed);
    ~InstrumentPort();
    InstrumentPort(const InstrumentPort&) = delete;
    InstrumentPort& operator=(const InstrumentPort&) = delete;

    void Receive(std::span<const uint8_t> bytes, Nanos now);
    // Bytes to write to the line now (replies and stream lines that are due).
    std::vector<uint8_t> Transmit(Nanos now);
    // When Transmit next has something to do; nullopt when nothing is due.
    std::optional<Nanos> NextEvent() const;
    // Everything to trace since the last call, in time order.
    std::vector<TraceUnit> TakeTrace();

    const PortConfig& Config() const { return m_config; }

  private:
    struct Reply {
        enum Kind { None, Data, Ack, Nak } kind = None;
        float value = 0.0f;
    };
    enum class Verb { ReadLive, ReadLatched, Snap, ReadRegister, WriteRegister, Refuse };

    void ReceiveBus(uint8_t byte, Nanos at);
    void ReceiveAscii(uint8_t byte, Nanos at);
    void FinishUnit(Nanos at, bool junk, std::vector<uint8_t> bytes);
    void Queue(Nanos at, std::vector<uint8_t> bytes);
    void Dispatch(int station, Verb verb, const std::string& reg, float value, Nanos at);
    void SendReply(const StationState& station, Reply reply, Nanos at);
    std::vector<uint8_t> Encode(int station, Reply reply) const;
    void Corrupt(const Faults& faults, std::vector<uint8_t>& bytes, bool dataReply);
    void RunStreams(Nanos now);

    PortConfig& m_config;
    std::vector<StationState> m_stations;
    RxLine m_rx;
    TxLine m_tx;
    std::mt19937_64 m_random;
    std::vector<uint8_t> m_pending; // request bytes not yet complete
    Nanos m_lastArrival = 0;
    bool m_inLine = false; // ASCII: a "!" has begun a line
    std::vector<TraceUnit> m_trace;
};

} // namespace vexasim
