// The main window's logic: the acquisition cycle, tare, screen refresh,
// status line and retry, and the logging engine.
//
// Wiring a front end: keep one LoggerCore for the window's life, over the
// current workspace, the MainWindowState, a ProtocolModule and the seams.
//  - ScreenTimer (333 ms, started after channel set-up) -> ScreenTimer_Timer()
//  - AutoRetryTimer timeout                              -> AutoRetryTimer_Timer()
//  - LogTimer timeout (a precise timer)                  -> LogTimerFired()
//  - the tiles' Zero event of tile i                     -> Tare(i)
//  - "&Retry" -> mnuRetry_Click(); "&Start Logging"/"S&top Logging" -> DoLogging();
//    "&View Last Log" -> ViewLastLog()
// The logic starts and stops the AutoRetryTimer and LogTimer itself; the
// front end only starts and stops ScreenTimer. Nothing here throws.
//
// A retry also reopens the port when the line has failed: every channel
// whose latest read reached the driver got no answer from the line (no
// response, the port closed, an I/O error). A line on which any instrument
// answered, even with a refusal, is never reopened.
//
// The automatic retry does not read the channels in error in full: a dead
// instrument would hold the line, the log rows and the window for all the
// driver's attempts at the full time-out every time. Instead each channel
// in error is probed once, at its next read, with a time-out fitted to the
// line (ProbeTimeoutMs); a probe that is answered puts it back at once. The
// Retry command reads every channel in error in full, so an instrument too
// slow for its probe is still found.
#pragma once

#include "base/NumberText.h"
#include "comm/ProtocolModule.h"
#include "core/ChannelStatistics.h"
#include "core/CoreSeams.h"
#include "core/LogFile.h"
#include "core/LogLines.h"
#include "core/MainWindowState.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct WorkspaceClass;
class ProtocolModule;
class MessageBoxes;

// The channels that are read, shown and logged: Channels, but never more
// than the items present nor more than the 24 tiles the state has room for.
int UsableChannels(const WorkspaceClass& workspace);
// Why a workspace's protocol index names no driver; empty for 0, 1 and 2.
std::string UnknownProtocolFault(int16_t protocol);

// The time-out of a probe: three times the channel's last good reply time,
// else three times the slowest reply of the channels that answer; at least
// 20 ms, at most the reply time-out, which is also taken when nothing is
// known. Each of the driver's attempts waits this long.
int16_t ProbeTimeoutMs(std::optional<double> ownReplyMs, std::optional<double> slowestHealthyMs,
                       int16_t replyTimeoutMs);

struct CoreSeams {
    WindowSurface& window;
    MessageBoxes& boxes;
    Timer& autoRetryTimer;
    Timer& logTimer;
    Clock& clock;
    LogFileChooser& logFileChooser;
    SettingsReader& settings;
    ShellOpener& shell;
};

class LoggerCore {
  public:
    LoggerCore(WorkspaceClass& workspace, MainWindowState& state, ProtocolModule& protocol,
               const RegionalSettings& regional, CoreSeams seams);

    // --- acquisition ---
    // 0: full pass; 1..24: that channel; -1 with Snap on: the SNAP trigger,
    // after which index is 0.
    void ReadValues(int16_t& index);
    // The Zero event of tile index; Shift held clears the tare.
    void Tare(int index);

    // --- screen refresh, status, retry ---
    void ScreenTimer_Timer();
    // Reopens a failed line, then has every channel in error probed.
    void AutoRetryTimer_Timer();
    // Reopens a failed line, then has every channel read in full.
    void mnuRetry_Click();
    // The countdown from a refresh that shows an error to the automatic
    // retry; 30 s unless a front end changes it for testing.
    void SetAutoRetryMs(int32_t ms) { m_autoRetryMs = ms; }

    // --- logging ---
    // Starts logging when off (rate check, log file dialog), stops it when on.
    void DoLogging();
    // One log tick; milliseconds is the time since the previous tick.
    void LogTimer_Timer(int32_t milliseconds);
    // The LogTimer's tick as the platform delivers it: measures the time
    // since the previous tick on the monotonic clock and runs LogTimer_Timer.
    void LogTimerFired();
    // Stops the LogTimer while logging, runs a full pass, and starts the
    // LogTimer's beat afresh: the first row then waits for no failing read.
    void FirstPassBeforeTheFirstRow();
    void ViewLastLog();
    // Shows the message and returns false when the interval is too short for
    // the channel count.
    bool RateCheckPasses();

    bool IsLogging() const { return !m_state.LogFileName.empty(); }
    // Rows written to the present or last log file, and rows that could not
    // be written to it.
    int64_t RowsWritten() const { return m_rowsWritten; }
    int64_t RowsLost() const { return m_rowsLost; }
    // Rows written whose flush to the disk failed (counted in RowsWritten).
    int64_t RowsNotFlushed() const { return m_rowsNotFlushed; }
    // Ports reopened after the line failed; reopens that failed.
    int64_t Reconnects() const { return m_reconnects; }
    int64_t FailedReopens() const { return m_failedReopens; }
    // Why channel i last failed; empty before its first failure.
    const std::string& ChannelFailure(int i) const;
    const ChannelStatistics& Statistics() const { return m_statistics; }
    void ResetStatistics();
    // Takes the log file now at its path (after log rotation); see LogFile.
    bool ReopenLogFile(std::string& error) { return m_logFile.Reopen(error); }
    // How often the log file was deleted or moved away and created anew.
    int64_t LogFileRenewals() const { return m_logFile.Renewals(); }
    // The last driver-layer error (missing library, unconvertible station or
    // command) met by a read; empty when none.
    const std::string& LastChannelFault() const { return m_lastChannelFault; }
    // Told of every row once it is in the log file: its elapsed time and its
    // columns; the channels' failures are in the state meanwhile.
    void
    SetRowObserver(std::function<void(double elapsedMs, const std::vector<LogColumn>&)> observer) {
        m_rowObserver = std::move(observer);
    }

  private:
    void ReadChannel(int i, const CommandArg& command, int& sumGroupStart);
    // probe: the failure is that of a probe, not of a read.
    void FailChannel(int i, const std::string& reason, bool probe = false);
    int16_t ProbeTimeoutOf(int i) const;
    // Retry is on offer while a channel is in error.
    void OfferRetry();
    // The latest driver read of channel i: answered by the line or not.
    void NoteLine(int i, std::optional<int16_t> code);
    bool LineFailed() const;
    // Reopens the port after a failed line; false when that failed.
    bool ReopenFailedLine();
    // Stops the automatic retry and reopens the line; when that fails, Retry
    // is offered again and false returned.
    bool StartRetry();
    void WriteRow();
    void StopLogging();
    void ReportWriteFailure();
    void ShowLoggingStatus();

    WorkspaceClass& m_workspace;
    MainWindowState& m_state;
    ProtocolModule& m_protocol;
    RegionalSettings m_regional;
    CoreSeams m_seams;
    LogFile m_logFile;
    double m_lastTickMs = 0;    // monotonic time the last reported tick accounts up to
    double m_nextTickDueMs = 0; // where the LogTimer's beat puts the coming tick
    bool m_inLogTick = false;   // a log tick is running (events are processed inside)
    bool m_inRefresh = false;   // a screen refresh is running
    int32_t m_logTickMs = 0;    // the LogTimer period of this logging run
    uint64_t m_logRun = 0;      // counts logging starts: a stop inside a tick is seen
    int64_t m_rowsWritten = 0;
    int64_t m_rowsLost = 0;
    std::string m_writeError; // why the last row could not be written
    bool m_writeFailureShown = false;
    std::string m_lastChannelFault;
    int64_t m_rowsNotFlushed = 0;
    int64_t m_reconnects = 0;
    int64_t m_failedReopens = 0;
    ChannelStatistics m_statistics;
    std::function<void(double, const std::vector<LogColumn>&)> m_rowObserver;
    std::array<std::string, ChannelSlots> m_failureReason{};
    // The latest driver read per channel: unknown, answered, or the line silent.
    enum class LineState : uint8_t { Unknown, Answered, Silent };
    std::array<LineState, ChannelSlots> m_line{};
    int32_t m_autoRetryMs = 30000;
    // How long the last good read of each channel took; whether a channel
    // in error is to be probed at its next read.
    std::array<std::optional<double>, ChannelSlots> m_replyMs{};
    std::array<bool, ChannelSlots> m_probeDue{};
};
