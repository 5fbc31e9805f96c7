// Sends the messages of a run to an MQTT broker (QoS 1) from a thread of its
// own, through the spool: the caller hands over a row's messages and never
// waits for the network or the disk. A message counts as delivered once the
// broker acknowledged it.
//
//   auto publisher = MqttPublisher::Start(options, channelsJson, error); // nullptr: exit 1
//   every row:   publisher->Offer(messages);
//   every second: for (auto& line : publisher->TakeNotices()) tell(line);
//   at the end:  publisher->Stop(); publisher->Counts()
#pragma once

#include "mqtt/MqttMessages.h"
#include "mqtt/MqttSpool.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MqttCounts {
    int64_t published = 0;    // messages sent to the broker (resends not counted)
    int64_t acknowledged = 0; // of these, the ones the broker acknowledged
    int64_t spooled = 0;      // messages waiting in the spool, not acknowledged
    int64_t dropped = 0;      // dropped by the spool's bound or a failed spool write
    int64_t reconnects = 0;   // connections to the broker after the first
    bool connected = false;
};

// " | MQTT: 120 published, 120 acknowledged, 0 spooled, 0 dropped, 0 reconnects"
std::string MqttStatusText(const MqttCounts& counts);
// The summary's lines: the figures, and the messages left waiting.
std::string MqttSummaryText(const MqttCounts& counts, const std::string& spoolDir);

class MqttPublisher {
  public:
    // Opens the spool and connects, waiting a few seconds at most. A broker
    // that refuses the credentials or fails the TLS check, or a spool that
    // cannot be used, gives nothing and why in error; an unreachable broker
    // is only told (TakeNotices) and tried again.
    static std::unique_ptr<MqttPublisher>
    Start(const MqttOptions& options, const std::string& channelsJson, std::string& error);
    virtual ~MqttPublisher() = default;
    virtual void Offer(std::vector<SpoolMessage> messages) = 0;
    virtual MqttCounts Counts() const = 0;
    virtual std::vector<std::string> TakeNotices() = 0;
    // Stores what was offered, gives the broker a moment to take the rest,
    // says "offline" and disconnects.
    virtual void Stop() = 0;
};
