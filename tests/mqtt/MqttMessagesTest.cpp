#include "mqtt/MqttMessages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(MqttMessages, FormattedValuesBecomeJsonNumbers) {
    const struct {
        const char* formatted;
        char separator;
        const char* json; // nullptr: no number
    } cases[] = {
        {"05.000", '.', "5.000"},    {"-05.000", '.', "-5.000"}, {"000", '.', "0"},
        {"00,250", ',', "0.250"},    {".50", '.', "0.50"},       {"-.5", '.', "-0.5"},
        {"1.5E+20", '.', "1.5E+20"}, {"12", '.', "12"},          {"inf", '.', nullptr},
        {"NaN", '.', nullptr},       {"1.", '.', nullptr},       {"", '.', "0"},
    };
    for (const auto& c : cases) {
        const auto json = JsonNumber(c.formatted, c.separator);
        if (c.json)
            EXPECT_EQ(json.value_or("none"), c.json) << c.formatted;
        else
            EXPECT_FALSE(json) << c.formatted;
    }
}

TEST(MqttMessages, PayloadsAreJsonWithLegibleText) {
    EXPECT_EQ(ReadingPayload({"2024-03-05T14:07:09.123Z", "1500", "-02,250", ',', true, ""}),
              R"({"time":"2024-03-05T14:07:09.123Z","elapsed":1500,"value":-2.250,)"
              R"("text":"-02,250","ok":true})");
    // A failed reading: no value, and why; a reason in Windows-1252 and with
    // quotes and control characters stays valid JSON and UTF-8.
    EXPECT_EQ(ReadingPayload({"t", "20", "00.000", '.', false, "\"Gr\xFC\xDF\"\r\n"}),
              R"({"time":"t","elapsed":20,"value":null,"text":"00.000","ok":false,)"
              "\"error\":\"\\\"Gr\xC3\xBC\xC3\x9F\\\"\\u000d\\u000a\"}");
    EXPECT_EQ(ChannelListPayload({{1,
                                   "Lo\xC3\xB6"
                                   "d",
                                   7, "0.0", "Vexa ASCII"}}),
              "[{\"number\":1,\"caption\":\"Lo\xC3\xB6"
              "d\",\"station\":7,\"format\":\"0.0\","
              "\"protocol\":\"Vexa ASCII\"}]");
    EXPECT_EQ(
        IsoUtcText(std::chrono::system_clock::time_point(std::chrono::milliseconds(1709647629123))),
        "2024-03-05T14:07:09.123Z");
}

// Parses the options as tarnvik-log would: the error, or the options set
// as "host port tls topic spool size".
std::string Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tarnvik-log");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    MqttOptions o;
    std::string error;
    for (int i = 1; i < static_cast<int>(argv.size()) && error.empty(); ++i)
        if (!TakeMqttOption(static_cast<int>(argv.size()), argv.data(), i, o, error))
            return "not an MQTT option: " + args[static_cast<size_t>(i)];
    if (error.empty()) error = CompleteMqttOptions(o, "/data/run.csv", "/ws/Stand 4.lws", "host/a");
    return !error.empty() ? error
                          : o.host + " " + std::to_string(o.port) + " " + std::to_string(o.tls) +
                                " " + o.topic + " " + o.spoolDir + " " + std::to_string(o.spoolMax);
}

TEST(MqttMessages, OptionsGiveBrokerTopicAndSpool) {
    const struct {
        std::vector<std::string> args;
        const char* outcome;
    } cases[] = {
        {{"--mqtt", "mqtt://broker.plant"},
         "broker.plant 1883 0 tarnvik/host_a/Stand 4 /data/run.csv.mqtt-spool 268435456"},
        {{"--mqtt", "mqtts://[::1]:9883", "--mqtt-cafile", "ca.pem", "--mqtt-topic", "a/b",
          "--mqtt-spool", "/s", "--mqtt-spool-max", "64 MiB"},
         "::1 9883 1 a/b /s 67108864"},
        {{"--mqtt", "http://x"}, "--mqtt needs mqtt://host[:port] or mqtts://host[:port]"},
        {{"--mqtt", "mqtt://x:0"}, "--mqtt needs mqtt://host[:port] or mqtts://host[:port]"},
        {{"--mqtt", "mqtt://:1883"}, "--mqtt needs mqtt://host[:port] or mqtts://host[:port]"},
        {{"--mqtt"}, "incomplete option --mqtt"},
        {{"--mqtt-topic", "a/#"}, "--mqtt-topic needs a topic without wildcards or a trailing /"},
        {{"--mqtt", "mqtt://x", "--mqtt-spool-max", "12Q"},
         "--mqtt-spool-max needs a size of at least 4096 bytes, such as 64M"},
        {{"--mqtt", "mqtt://x", "--mqtt-cafile", "ca.pem"},
         "--mqtt-cafile, --mqtt-cert and --mqtt-key need mqtts://"},
        {{"--mqtt", "mqtts://x", "--mqtt-cert", "c.pem"}, "--mqtt-cert and --mqtt-key go together"},
        {{"--mqtt-auth", "f"}, "these options need --mqtt URL"},
        {{"--mqtt", "mqtt://x", "--mqtt-auth", "/nonexistent/auth"},
         "cannot read the credentials file /nonexistent/auth"},
        {{"--mqtt-port", "1"}, "unknown option --mqtt-port"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.args), c.outcome) << c.args[0];
}

} // namespace
