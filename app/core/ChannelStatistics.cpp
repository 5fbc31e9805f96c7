#include "core/ChannelStatistics.h"

#include "base/NumberText.h"
#include "comm/ProtocolModule.h"
#include "core/LoggerCore.h"
#include "workspace/Workspace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FailureText(int16_t code) {
    const std::string text = ResultCodeText(code);
    if (text.rfind("Unknown: ", 0) == 0) return text;
    return IntegerText(code) + " " + text;
}

size_t ChannelStatistics::Slot(int channel) {
    return static_cast<size_t>(std::clamp(channel, 0, MaxChannels));
}

namespace {
void EndFailure(ChannelFigures& f, double nowMs) {
    if (!f.failingSinceMs) return;
    f.longestFailedMs = std::max(f.longestFailedMs, nowMs - *f.failingSinceMs);
    f.failingSinceMs.reset();
}
} // namespace

void ChannelStatistics::Succeeded(int channel, double nowMs) {
    ChannelFigures& f = m_figures[Slot(channel)];
    ++f.reads;
    EndFailure(f, nowMs);
}

void ChannelStatistics::ProbeAnswered(int channel, double nowMs) {
    ChannelFigures& f = m_figures[Slot(channel)];
    ++f.probes;
    ++f.probesAnswered;
    EndFailure(f, nowMs);
}

void ChannelStatistics::ProbeFailed(int channel, const std::string& cause) {
    ChannelFigures& f = m_figures[Slot(channel)];
    ++f.probes;
    f.lastFailure = cause;
}

void ChannelStatistics::Failed(int channel, const std::string& cause, double nowMs) {
    ChannelFigures& f = m_figures[Slot(channel)];
    ++f.reads;
    ++f.failed;
    ++f.failuresByCause[cause];
    f.lastFailure = cause;
    if (!f.failingSinceMs) f.failingSinceMs = nowMs;
}

void ChannelStatistics::Reset(double nowMs) {
    for (ChannelFigures& f : m_figures) {
        const bool failing = f.failingSinceMs.has_value();
        f = ChannelFigures{};
        if (failing) f.failingSinceMs = nowMs;
    }
}

double ChannelStatistics::LongestFailedMs(int channel, double nowMs) const {
    const ChannelFigures& f = Of(channel);
    const double current = f.failingSinceMs ? nowMs - *f.failingSinceMs : 0;
    return std::max(f.longestFailedMs, current);
}

bool ChannelStatistics::AnyFailed() const {
    return std::any_of(m_figures.begin(), m_figures.end(),
                       [](const ChannelFigures& f) { return f.failed > 0; });
}

std::string DurationText(double ms) {
    const auto tenths = static_cast<long long>(std::llround(std::max(0.0, ms) / 100));
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", tenths / 36000, tenths / 600 % 60,
                  tenths / 10 % 60, tenths % 10);
    return text;
}

std::vector<std::vector<std::string>> StatisticsTable(const WorkspaceClass& workspace,
                                                      const ChannelStatistics& statistics,
                                                      double nowMs) {
    std::vector<std::vector<std::string>> table{{"Channel", "Station", "Reads", "Failed",
                                                 "Failures by code", "Longest failure",
                                                 "Last failure", "Probes", "Probes answered"}};
    const int channels = UsableChannels(workspace);
    for (int i = 1; i <= channels; ++i) {
        const ItemClass& item = workspace.Items[static_cast<size_t>(i - 1)];
        const ChannelFigures& f = statistics.Of(i);
        std::string causes;
        for (const auto& [cause, count] : f.failuresByCause)
            causes += (causes.empty() ? "" : "; ") + IntegerText(count) + " x " + cause;
        table.push_back({item.Caption, IntegerText(item.Station), IntegerText(f.reads),
                         IntegerText(f.failed), causes,
                         DurationText(statistics.LongestFailedMs(i, nowMs)), f.lastFailure,
                         IntegerText(f.probes), IntegerText(f.probesAnswered)});
    }
    return table;
}
