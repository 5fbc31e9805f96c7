#include "LoggerCore.h"

#include "LogLines.h"
#include "MessageBox.h"
#include "Workspace.h"

namespace {
constexpr int32_t AutoRetryMs = 30000;
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
            if (!m_seams.autoRetryTimer.IsActive()) m_seams.autoRetryTimer.Start(AutoRetryMs);
        } else {
            const ItemClass& item = m_workspace.Items[static_cast<size_t>(i - 1)];
            window.SetTile(i, FormatPattern(m_state.NetValues[i], item.Format, m_regional),
                           ColourSystem3DLight);
        }
    }
    if (IsLogging()) {
        if (m_writeError.empty()) {
            window.SetLogLabel(LoggingStatusText(m_workspace.LogInterval, channels,
                                                 m_state.LogFileName, m_state.AchievedMs,
                                                 m_regional));
        } else {
            window.SetLogLabel("Cannot write to " + m_state.LogFileName + ": " + m_writeError +
                               " (" + IntegerText(m_rowsLost) + " rows lost)");
        }
    }
    if (drawFrozen) window.ReleaseDrawing();
    if (IsLogging() && !m_writeError.empty() && !m_writeFailureShown) ReportWriteFailure();
}

void LoggerCore::ReportWriteFailure() {
    // Once per logging run: the status line keeps telling after that.
    m_writeFailureShown = true;
    m_seams.boxes.show("An error occurred while trying to write to log file " +
                           m_state.LogFileName + "\r\nError: " + m_writeError +
                           "\r\nLogging goes on; the rows that cannot be written are lost.",
                       "Log File", MessageIcon::Exclamation);
}

void LoggerCore::AutoRetryTimer_Timer() {
    m_seams.autoRetryTimer.Stop();
    mnuRetry_Click();
}

void LoggerCore::mnuRetry_Click() {
    m_seams.autoRetryTimer.Stop();
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i)
        m_state.CommsError[i] = false;
    if (m_workspace.Protocol == ProtocolUSB) {
        try {
            m_protocol.ProtocolOpenPort(0, 0);
        } catch (const ProtocolError& error) {
            m_lastChannelFault = error.what();
        }
    }
    m_seams.window.EnableMenu(MenuCommand::Retry, false);
    m_state.FirstScanDone = false;
}
