#include "core/LoggerCore.h"

#include "base/MessageBox.h"
#include "workspace/Workspace.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// The protocol's read commands and SNAP trigger.
struct ProtocolCommands {
    CommandArg normal, snapMode, snapTrigger;
};

std::optional<ProtocolCommands> CommandsOf(int16_t protocol) {
    switch (protocol) {
    case ProtocolVeldaBus:
        return ProtocolCommands{int32_t{10}, int32_t{23}, int32_t{103}};
    case ProtocolASCII:
    case ProtocolUSB:
        return ProtocolCommands{std::string("SYS"), std::string("SYSN"), std::string("SNAP")};
    default:
        return std::nullopt;
    }
}

bool IsSumChannel(const std::string& command) {
    if (command.size() != 3) return false;
    std::string upper = command;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "SUM";
}

// The item's Command in place of the protocol's: a bus command number above
// 0, or any non-empty command text. Returns false when a bus command above 0
// is no whole 16-bit number: sending something else than what was asked for
// could make an instrument do the wrong thing, so the channel fails instead.
bool ApplyOverride(int16_t protocol, const std::string& itemCommand, CommandArg& command,
                   std::string& fault) {
    if (protocol == ProtocolVeldaBus) {
        const auto number = ParseReal(itemCommand, RegionalSettings::point());
        if (!number || !(*number > 0)) return true;
        if (*number != std::floor(*number) || *number > 32767) {
            fault = "Command \"" + itemCommand + "\" is not a command number from 1 to 32767";
            return false;
        }
        command = static_cast<int32_t>(*number);
        return true;
    }
    if (!itemCommand.empty()) command = itemCommand;
    return true;
}

} // namespace

std::string UnknownProtocolFault(int16_t protocol) {
    if (CommandsOf(protocol)) return {};
    return "Protocol " + IntegerText(protocol) + " is none of 0 (VeldaBus), 1 (ASCII) or 2 (USB)";
}

int UsableChannels(const WorkspaceClass& workspace) {
    const int items = static_cast<int>(std::min<size_t>(workspace.Items.size(), MaxChannels));
    return std::clamp<int>(workspace.Channels, 0, items);
}

LoggerCore::LoggerCore(WorkspaceClass& workspace, MainWindowState& state, ProtocolModule& protocol,
                       const RegionalSettings& regional, CoreSeams seams)
    : m_workspace(workspace), m_state(state), m_protocol(protocol), m_regional(regional),
      m_seams(seams) {}

void LoggerCore::ReadValues(int16_t& index) {
    WindowSurface& window = m_seams.window;
    // Whatever way the pass ends (events may shrink the workspace under it),
    // the busy pointer it put up comes down.
    struct BusyPointer {
        WindowSurface& window;
        const bool shown;
        ~BusyPointer() {
            if (shown) window.SetBusyPointer(false);
        }
    } busy{window, !m_state.FirstScanDone};
    if (busy.shown) window.SetBusyPointer(true);

    const int16_t protocol = m_workspace.Protocol;
    const auto commands = CommandsOf(protocol);
    CommandArg command = commands ? commands->normal : CommandArg{int32_t{0}};
    const bool fullPass = index == 0;
    const int16_t channelsAtStart = m_workspace.Channels;
    const size_t itemsAtStart = m_workspace.Items.size();
    const auto workspaceChanged = [&] {
        return m_workspace.Channels != channelsAtStart || m_workspace.Items.size() != itemsAtStart;
    };

    int first = 1;
    int last = UsableChannels(m_workspace);
    if (!fullPass) {
        if (m_workspace.Snap != 0) {
            if (index == -1) {
                if (commands) {
                    try {
                        m_protocol.ProtocolExecute(-1, commands->snapTrigger);
                    } catch (const ProtocolError& error) {
                        m_lastChannelFault = error.what();
                    }
                }
                index = 0;
                return;
            }
            if (commands) command = commands->snapMode;
        }
        first = last = index;
        if (index < 1 || index > UsableChannels(m_workspace)) {
            // No such channel (a count that shrank, an index of -1 without
            // Snap): nothing to read.
            return;
        }
    }

    const auto closing = [&] {
        if (m_state.Closing) window.SetBusyPointer(false);
        return m_state.Closing;
    };
    // A single channel's sum group starts where the full pass would start it.
    int sumGroupStart = 1;
    for (int j = 1; j < first; ++j)
        if (IsSumChannel(m_workspace.Items[static_cast<size_t>(j - 1)].Command))
            sumGroupStart = j + 1;
    for (int i = first; i <= last; ++i) {
        if (!m_state.FirstScanDone) {
            window.SetLogLabel("Reading from: " + window.TileTitle(i));
            window.ProcessPendingEvents();
            if (fullPass && workspaceChanged()) return;
        }
        // Events may have shrunk the workspace under a single-channel read.
        if (i > UsableChannels(m_workspace)) return;
        // A stop asked for in those events comes before the next driver
        // call, which may take four reply time-outs.
        if (closing()) return;
        ReadChannel(i, command, sumGroupStart);
        if (fullPass) {
            window.ProcessPendingEvents();
            if (workspaceChanged()) return;
        }
        if (closing()) return;
    }
    if (!m_state.FirstScanDone) window.SetLogLabel("");
    m_state.FirstScanDone = true;
}

void LoggerCore::ReadChannel(int i, const CommandArg& defaultCommand, int& sumGroupStart) {
    const ItemClass& item = m_workspace.Items[static_cast<size_t>(i - 1)];
    if (IsSumChannel(item.Command)) {
        const int groupStart = sumGroupStart;
        sumGroupStart = i + 1;
        // Probing a sum is adding it up again once its channels were probed.
        const bool probe = m_state.CommsError[i] && m_probeDue[i];
        if (m_state.CommsError[i] && !probe) return;
        m_probeDue[i] = false;
        // A total over a reading that failed would pass stale values off as
        // a good one.
        for (int j = groupStart; j < i; ++j)
            if (m_state.CommsError[j]) {
                FailChannel(i, "Channel " + IntegerText(j) + " of the sum failed", probe);
                return;
            }
        float sum = 0;
        for (int j = groupStart; j < i; ++j)
            sum += m_state.Readings[j];
        m_state.Readings[i] = sum;
        m_state.NetValues[i] = m_state.Readings[i] - item.TareValue;
        if (probe) {
            m_statistics.ProbeAnswered(i, m_seams.clock.MonotonicMs());
            m_state.CommsError[i] = false;
            OfferRetry();
        }
        return;
    }

    const int16_t protocol = m_workspace.Protocol;
    CommandArg command = defaultCommand;
    std::string fault;
    const bool commandUsable = ApplyOverride(protocol, item.Command, command, fault);
    const bool probe = m_state.CommsError[i] && m_probeDue[i];
    if (m_state.CommsError[i] && !probe) return;
    m_probeDue[i] = false;
    if (!CommandsOf(protocol)) {
        m_lastChannelFault = UnknownProtocolFault(protocol);
        FailChannel(i, m_lastChannelFault, probe);
        return;
    }

    if (!commandUsable) {
        m_lastChannelFault = fault;
        FailChannel(i, fault, probe);
        return;
    }
    // Station 0 on a serial line is a broadcast: no instrument answers it,
    // so it would read nothing and pass an old value off as a reading.
    if (protocol != ProtocolUSB && (item.Station < 1 || item.Station > 255)) {
        m_lastChannelFault = "Station " + IntegerText(item.Station) + " of channel " +
                             IntegerText(i) + " is outside 1 to 255";
        FailChannel(i, m_lastChannelFault, probe);
        return;
    }
    if (protocol == ProtocolUSB && UsbDriverFault) {
        FailChannel(i, "The USB driver could not be loaded", probe);
        return;
    }
    ProtocolResult result;
    const double startMs = m_seams.clock.MonotonicMs();
    try {
        result = probe ? m_protocol.ProtocolProbe(item.Station, command, m_state.Readings[i],
                                                  ProbeTimeoutOf(i))
                       : m_protocol.ProtocolRead(item.Station, command, m_state.Readings[i]);
    } catch (const ProtocolError& error) {
        m_lastChannelFault = error.what();
        FailChannel(i, m_lastChannelFault, probe);
        return;
    }
    NoteLine(i, result);
    if (IsFailure(result)) {
        FailChannel(i, FailureText(*result), probe);
        return;
    }
    const double nowMs = m_seams.clock.MonotonicMs();
    m_replyMs[i] = nowMs - startMs;
    m_state.NetValues[i] = m_state.Readings[i] - item.TareValue;
    if (!probe) {
        m_statistics.Succeeded(i, nowMs);
        m_state.CommsError[i] = false;
        return;
    }
    m_statistics.ProbeAnswered(i, nowMs);
    m_state.CommsError[i] = false;
    OfferRetry();
}

void LoggerCore::FailChannel(int i, const std::string& reason, bool probe) {
    if (probe)
        m_statistics.ProbeFailed(i, reason);
    else
        m_statistics.Failed(i, reason, m_seams.clock.MonotonicMs());
    m_failureReason[i] = reason;
    m_state.CommsError[i] = true;
    m_seams.window.EnableMenu(MenuCommand::Retry, true);
    if (m_workspace.LogDefault != 0) m_state.NetValues[i] = m_workspace.LogDefault;
}

void LoggerCore::OfferRetry() {
    const int channels = UsableChannels(m_workspace);
    bool any = false;
    for (int i = 1; i <= channels; ++i)
        any = any || m_state.CommsError[i];
    m_seams.window.EnableMenu(MenuCommand::Retry, any);
}

int16_t LoggerCore::ProbeTimeoutOf(int i) const {
    std::optional<double> slowest;
    const int channels = UsableChannels(m_workspace);
    for (int j = 1; j <= channels; ++j)
        if (j != i && !m_state.CommsError[j] && m_replyMs[j])
            slowest = std::max(slowest.value_or(0.0), *m_replyMs[j]);
    return ProbeTimeoutMs(m_replyMs[i], slowest, m_protocol.ReplyTimeout());
}

int16_t ProbeTimeoutMs(std::optional<double> ownReplyMs, std::optional<double> slowestHealthyMs,
                       int16_t replyTimeoutMs) {
    const std::optional<double> basis = ownReplyMs ? ownReplyMs : slowestHealthyMs;
    if (!basis) return replyTimeoutMs;
    const double ms = std::max(20.0, std::ceil(3 * *basis));
    return static_cast<int16_t>(std::min<double>(replyTimeoutMs, ms));
}

const std::string& LoggerCore::ChannelFailure(int i) const {
    return m_failureReason[static_cast<size_t>(std::clamp(i, 0, MaxChannels))];
}

void LoggerCore::ResetStatistics() {
    m_statistics.Reset(m_seams.clock.MonotonicMs());
}

void LoggerCore::Tare(int index) {
    if (index < 1 || index > UsableChannels(m_workspace)) return;
    if (m_state.CommsError[index]) {
        m_seams.boxes.show("Cannot tare while communications errors exist!", "Tare",
                           MessageIcon::Exclamation);
        return;
    }
    ItemClass& item = m_workspace.Items[static_cast<size_t>(index - 1)];
    item.TareValue = m_seams.window.IsShift() ? 0.0f : m_state.Readings[index];
}
