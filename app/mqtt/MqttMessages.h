// What tarnvik-log sends to an MQTT broker, without the network: the
// options that choose the broker, and the JSON texts of the messages.
//
//   MqttOptions mqtt;
//   for each argument: if (TakeMqttOption(argc, argv, i, mqtt, error)) continue;
//   if (mqtt.enabled()) error = CompleteMqttOptions(mqtt, logPath, workspacePath, hostName);
//   ReadingPayload({isoTime, elapsed, text, ok, reason}) for every channel of a row.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MqttOptions {
    std::string url; // empty: no broker
    std::string host;
    int port = 0;
    bool tls = false;
    std::string caFile, certFile, keyFile;
    std::string authFile;
    std::string user, password; // read from authFile
    std::string topic;          // the topic root
    std::string spoolDir;
    int64_t spoolMax = int64_t{256} << 20;
    bool enabled() const { return !url.empty(); }
};

// Takes the MQTT option at argv[i] (and its value, advancing i): true when
// argv[i] was one; error is set when its value is bad or missing.
bool TakeMqttOption(int argc, char** argv, int& i, MqttOptions& options, std::string& error);

// Fills in the defaults (the topic root, the spool folder beside the log
// file), reads the credentials and checks that the options fit together.
// Returns why they do not, or empty text.
std::string CompleteMqttOptions(MqttOptions& options, const std::string& logPath,
                                const std::string& workspacePath, const std::string& hostName);

// "64M", "256 MiB", "1G", "4096": bytes, binary multiples; nothing when malformed.
std::optional<int64_t> ParseByteSize(const std::string& text);

// The usage lines of the options.
extern const char* const MqttUsageText;

// "2024-03-05T14:07:09.123Z"
std::string IsoUtcText(std::chrono::system_clock::time_point time);

// A formatted value as a JSON number: "05.000" -> "5.000", "-.5" -> "-0.5",
// a decimal comma read as a point; nothing when the text is no number.
std::optional<std::string> JsonNumber(const std::string& formatted, char decimalSeparator);

// A JSON string literal of any bytes: valid UTF-8 kept, other 8-bit text
// read as Windows-1252.
std::string JsonString(const std::string& bytes);

struct ReadingFields {
    std::string time;    // IsoUtcText of the row
    std::string elapsed; // elapsed milliseconds as the log file writes them
    std::string text;    // the value as the log file writes it
    char decimalSeparator = '.';
    bool ok = true;
    std::string error; // why the reading failed
};
std::string ReadingPayload(const ReadingFields& fields);

struct ChannelInfo {
    int number = 0;
    std::string caption;
    int station = 0;
    std::string format;
    std::string protocol;
};
std::string ChannelListPayload(const std::vector<ChannelInfo>& channels);
