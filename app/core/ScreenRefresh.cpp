#include "core/LoggerCore.h"

#include "base/MessageBox.h"
#include "core/LogLines.h"
#include "workspace/Workspace.h"

namespace {
constexpr int32_t ScreenIntervalMs = 333;
const char* const ErrorDashes = "-------";
} // namespace

void LoggerCore::ScreenTimer_Timer() {
    // An acquisition pass processes events; a refresh started from inside
    // one would read the channels twice over.
    if (m_inRefresh) return;
    m_inRefresh = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inRefresh};

    if (!IsLogging() || m_workspace.LogInterval > ScreenIntervalMs) {
        int16_t fullPass = 0;
        ReadValues(fullPass);
    }
    if (m_state.Closing) return;

    WindowSurface& window = m_seams.window;
    const bool drawFrozen = !window.IsMinimised();
    if (drawFrozen) window.FreezeDrawing();
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i) {
        if (m_state.CommsError[i]) {
            window.SetTile(i, ErrorDashes, ColourRed);
            window.SetTileTip(i, m_failureReason[i]);
            if (!m_seams.autoRetryTimer.IsActive()) m_seams.autoRetryTimer.Start(m_autoRetryMs);
        } else {
            const ItemClass& item = m_workspace.Items[static_cast<size_t>(i - 1)];
            window.SetTile(i, FormatPattern(m_state.NetValues[i], item.Format, m_regional),
                           ColourSystem3DLight);
            window.SetTileTip(i, "");
        }
    }
    if (IsLogging()) ShowLoggingStatus();
    if (drawFrozen) window.ReleaseDrawing();
    if (IsLogging() && !m_writeError.empty() && !m_writeFailureShown) ReportWriteFailure();
}

void LoggerCore::ShowLoggingStatus() {
    const std::string reconnects =
        m_reconnects == 0
            ? ""
            : ", " + IntegerText(m_reconnects) + (m_reconnects == 1 ? " reconnect" : " reconnects");
    if (m_writeError.empty()) {
        m_seams.window.SetLogLabel(
            LoggingStatusText(m_workspace.LogInterval, UsableChannels(m_workspace),
                              m_state.LogFileName, m_state.AchievedMs, m_regional) +
            reconnects);
        return;
    }
    m_seams.window.SetLogLabel(
        "Cannot write to " + m_state.LogFileName + ": " + m_writeError + " (" +
        IntegerText(m_rowsLost) + " rows lost" +
        (m_rowsNotFlushed == 0 ? "" : ", " + IntegerText(m_rowsNotFlushed) + " not flushed") + ")" +
        reconnects);
}

void LoggerCore::ReportWriteFailure() {
    // Once per logging run: the status line keeps telling after that.
    m_writeFailureShown = true;
    // Without waiting for an answer: the tiles and the status line go on
    // behind the box.
    m_seams.boxes.notify("An error occurred while trying to write to log file " +
                             m_state.LogFileName + "\r\nError: " + m_writeError +
                             "\r\nLogging goes on; the rows that cannot be written are lost.",
                         "Log File", MessageIcon::Exclamation);
}

bool LoggerCore::StartRetry() {
    m_seams.autoRetryTimer.Stop();
    if (ReopenFailedLine()) return true;
    m_seams.window.EnableMenu(MenuCommand::Retry, true);
    return false;
}

void LoggerCore::AutoRetryTimer_Timer() {
    if (!StartRetry()) return;
    // Each is probed at its own next read, so the passes and the log ticks
    // go on between two probes.
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i)
        m_probeDue[i] = m_state.CommsError[i];
}

void LoggerCore::mnuRetry_Click() {
    // Channels whose line could not be reopened stay in error: reading them
    // would only wait out their time-outs until the next retry.
    if (!StartRetry()) return;
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i)
        m_state.CommsError[i] = false;
    m_probeDue.fill(false);
    m_seams.window.EnableMenu(MenuCommand::Retry, false);
    m_state.FirstScanDone = false;
}

void LoggerCore::NoteLine(int i, std::optional<int16_t> code) {
    if (!code) return;
    switch (*code) {
    case 0:
    case -200:
    case -300:
    case -400:
    case -500:
        m_line[i] = LineState::Answered; // bytes came back: the line works
        break;
    case -2:
    case -100:
    case -999:
        m_line[i] = LineState::Silent; // nothing came back, or the port failed
        break;
    default:
        break; // refused before anything was sent: says nothing of the line
    }
}

bool LoggerCore::LineFailed() const {
    bool silent = false;
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i) {
        if (m_line[i] == LineState::Answered) return false;
        silent = silent || m_line[i] == LineState::Silent;
    }
    return silent;
}

bool LoggerCore::ReopenFailedLine() {
    const int16_t protocol = m_workspace.Protocol;
    const bool usb = protocol == ProtocolUSB;
    const bool failed = LineFailed();
    // The USB connection is reopened at every retry; a serial port only
    // when its line failed.
    if (!usb && !(failed && (protocol == ProtocolVeldaBus || protocol == ProtocolASCII)))
        return true;
    ProtocolResult result;
    std::string why;
    try {
        result = usb ? m_protocol.ProtocolOpenPort(0, 0)
                     : m_protocol.ProtocolOpenPort(m_workspace.Port, m_workspace.Baudrate);
    } catch (const ProtocolError& error) {
        m_lastChannelFault = why = error.what();
    }
    if (!failed) return true;
    if (why.empty() && !IsFailure(result)) {
        ++m_reconnects;
        m_line.fill(LineState::Unknown);
        if (IsLogging()) ShowLoggingStatus(); // the count shows with the reconnect itself
        return true;
    }
    ++m_failedReopens;
    const std::string reason = (usb ? std::string("Cannot reopen the USB connection: ")
                                    : "Cannot reopen COM" + IntegerText(m_workspace.Port) + ": ") +
                               (why.empty() ? FailureText(*result) : why);
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i)
        if (m_state.CommsError[i]) m_failureReason[i] = reason;
    return false;
}
