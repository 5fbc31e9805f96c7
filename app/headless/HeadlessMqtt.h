// The headless logger's MQTT output: every row the log file takes goes to
// the publisher as one message per channel, and the figures go to the
// status line and the summary.
#pragma once

#include "mqtt/MqttMessages.h"
#include "mqtt/MqttPublisher.h"

#include <memory>
#include <string>

class LoggerCore;
struct MainWindowState;
struct RegionalSettings;
struct WorkspaceClass;

class HeadlessMqtt {
  public:
    // Connects and watches core's rows; nothing (and why in error) when the
    // broker refused the configuration.
    static std::unique_ptr<HeadlessMqtt>
    Start(const MqttOptions& options, const WorkspaceClass& workspace, LoggerCore& core,
          const MainWindowState& state, const RegionalSettings& regional, std::string& error);
    // Writes what the publisher has to tell on stderr.
    void Tell();
    std::string StatusText() const { return MqttStatusText(m_publisher->Counts()); }
    // Stops the publisher; then the summary's lines and whether messages were dropped.
    void Stop();
    std::string SummaryText() const;
    bool Dropped() const { return m_publisher->Counts().dropped > 0; }

  private:
    MqttOptions m_options;
    std::unique_ptr<MqttPublisher> m_publisher;
};
