#include "headless/HeadlessMqtt.h"

#include "core/LoggerCore.h"
#include "workspace/Workspace.h"
#include "workspace/dialogs/WorkspaceEditor.h"

#include <chrono>
#include <cstdio>

std::unique_ptr<HeadlessMqtt> HeadlessMqtt::Start(const MqttOptions& options,
                                                  const WorkspaceClass& workspace, LoggerCore& core,
                                                  const MainWindowState& state,
                                                  const RegionalSettings& regional,
                                                  std::string& error) {
    std::vector<ChannelInfo> channels;
    const auto& protocols = WorkspaceEditor::ProtocolNames();
    const std::string protocol =
        workspace.Protocol >= 0 && static_cast<size_t>(workspace.Protocol) < protocols.size()
            ? protocols[static_cast<size_t>(workspace.Protocol)]
            : std::to_string(workspace.Protocol);
    const int usable = UsableChannels(workspace);
    for (int i = 1; i <= usable; ++i) {
        const ItemClass& item = workspace.Items[static_cast<size_t>(i - 1)];
        channels.push_back({i, item.Caption, item.Station, item.Format, protocol});
    }
    auto mqtt = std::make_unique<HeadlessMqtt>();
    mqtt->m_options = options;
    mqtt->m_publisher = MqttPublisher::Start(options, ChannelListPayload(channels), error);
    if (!mqtt->m_publisher) return nullptr;
    MqttPublisher* publisher = mqtt->m_publisher.get();
    const std::string base = options.topic + "/";
    core.SetRowObserver([publisher, base, &core, &state,
                         &regional](double elapsedMs, const std::vector<LogColumn>& columns) {
        ReadingFields fields;
        fields.time = IsoUtcText(std::chrono::system_clock::now());
        fields.elapsed = PlainNumber(elapsedMs, regional);
        fields.decimalSeparator = regional.decimalSeparator;
        std::vector<SpoolMessage> messages;
        messages.reserve(columns.size());
        for (size_t c = 0; c < columns.size(); ++c) {
            const int channel = static_cast<int>(c + 1);
            // The very call the log file's row is made with, so the texts agree.
            fields.text = FormatPattern(columns[c].value, columns[c].format, regional);
            fields.ok = !state.CommsError[static_cast<size_t>(channel)];
            fields.error = fields.ok ? std::string() : core.ChannelFailure(channel);
            messages.push_back({base + std::to_string(channel), ReadingPayload(fields)});
        }
        publisher->Offer(std::move(messages));
    });
    mqtt->Tell();
    return mqtt;
}

void HeadlessMqtt::Tell() {
    for (const auto& line : m_publisher->TakeNotices())
        std::fprintf(stderr, "tarnvik-log: MQTT: %s\n", line.c_str());
}

void HeadlessMqtt::Stop() {
    m_publisher->Stop();
    Tell();
}

std::string HeadlessMqtt::SummaryText() const {
    return MqttSummaryText(m_publisher->Counts(), m_options.spoolDir);
}
