#include "core/LoggerCore.h"

#include "base/MessageBox.h"
#include "base/ProgramPath.h"
#include "core/LogLines.h"
#include "workspace/Workspace.h"

#include <algorithm>
#include <cmath>

namespace {

class Flag {
  public:
    explicit Flag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~Flag() { m_flag = false; }

  private:
    bool& m_flag;
};

} // namespace

bool LoggerCore::RateCheckPasses() {
    const auto message = RateCheckMessage(UsableChannels(m_workspace), m_workspace.LogInterval,
                                          m_workspace.Snap != 0);
    if (!message) return true;
    m_seams.boxes.show(*message, "Log Interval", MessageIcon::Exclamation);
    return false;
}

void LoggerCore::DoLogging() {
    if (IsLogging()) {
        StopLogging();
        return;
    }
    if (!RateCheckPasses()) return;

    WindowSurface& window = m_seams.window;
    const int channels = UsableChannels(m_workspace);
    const int32_t interval = m_workspace.LogInterval;
    const std::string path = m_seams.logFileChooser.ChooseLogFile();
    window.SetLogLabel("");
    m_logFile.Close();
    m_state.AchievedMs = static_cast<float>(interval);
    if (path.empty()) return;

    // A file that cannot be created (or take its header) leaves logging off
    // with a message: showing "logging" while every row vanishes would be
    // worse than not logging at all.
    std::vector<std::string> titles;
    for (int i = 1; i <= channels; ++i)
        titles.push_back(window.TileTitle(i));
    std::string error;
    if (!m_logFile.Open(path, m_seams.logFileChooser.ChosenMode(),
                        LogHeaderLine(titles, m_state.DecimalComma), error)) {
        m_seams.boxes.show("An error occurred while trying to create log file " + path +
                               "\r\nError: " + error,
                           "Log File", MessageIcon::Exclamation);
        return;
    }
    m_logFile.Sync(error);

    m_state.LogFileName = path;
    ++m_logRun;
    m_rowsWritten = 0;
    m_rowsLost = 0;
    m_rowsNotFlushed = 0;
    m_writeError.clear();
    m_writeFailureShown = false;
    window.SetLogLabel(LoggingStartText(interval, path, m_regional));
    m_state.ElapsedMs = 0;
    window.EnableMenu(MenuCommand::StartLog, false);
    window.EnableMenu(MenuCommand::ConfigureWorkspace, false);
    window.EnableMenu(MenuCommand::ViewLog, false);
    window.EnableMenu(MenuCommand::StopLog, true);
    m_logTickMs = LogTickInterval(channels, interval, m_workspace.Snap != 0);
    m_lastTickMs = m_seams.clock.MonotonicMs();
    m_nextTickDueMs = m_lastTickMs + m_logTickMs; // the first tick
    m_seams.logTimer.Start(m_logTickMs);
    m_state.NextChannel = 1;
    window.EnableMenu(MenuCommand::ConfigureWorkspace, false);
    window.EnableMenu(MenuCommand::OpenWorkspace, false);
}

void LoggerCore::FirstPassBeforeTheFirstRow() {
    m_seams.logTimer.Stop();
    int16_t fullPass = 0;
    ReadValues(fullPass);
    if (!IsLogging() || m_state.Closing) return;
    m_lastTickMs = m_seams.clock.MonotonicMs();
    m_nextTickDueMs = m_lastTickMs + m_logTickMs;
    m_seams.logTimer.Start(m_logTickMs);
}

void LoggerCore::StopLogging() {
    WindowSurface& window = m_seams.window;
    m_seams.logTimer.Stop();
    m_state.LogFileName.clear();
    window.EnableMenu(MenuCommand::StartLog, true);
    window.EnableMenu(MenuCommand::ConfigureWorkspace, true);
    window.EnableMenu(MenuCommand::ViewLog, true);
    window.EnableMenu(MenuCommand::OpenWorkspace, true);
    window.EnableMenu(MenuCommand::StopLog, false);
    window.SetLogLabel("");
    m_logFile.Close();
}

void LoggerCore::LogTimerFired() {
    // A tick delivered while one runs (events are processed inside a tick)
    // is dropped; its time is counted by the next tick.
    if (m_inLogTick || !IsLogging()) return;
    const double span = m_seams.clock.MonotonicMs() - m_lastTickMs;
    const auto milliseconds = static_cast<int32_t>(std::llround(std::max(0.0, span)));
    // Only whole milliseconds are reported; the rest stays for the next tick
    // so that the elapsed time does not drift from the clock over a long run.
    m_lastTickMs += milliseconds;
    LogTimer_Timer(milliseconds);
}

void LoggerCore::LogTimer_Timer(int32_t milliseconds) {
    // Closing: the program is ending, and no more driver calls are made.
    if (!IsLogging() || m_state.Closing) return;
    Flag inTick(m_inLogTick);
    const uint64_t run = m_logRun;
    // Where the timer's beat puts the next tick; a tick more than a period
    // late starts the beat anew, as a periodic timer does.
    const double tickStarted = m_seams.clock.MonotonicMs();
    m_nextTickDueMs += m_logTickMs;
    if (m_nextTickDueMs <= tickStarted) m_nextTickDueMs = tickStarted + m_logTickMs;

    ReadValues(m_state.NextChannel);
    // Logging was stopped, or stopped and started again, while the read
    // processed events, or the read was skipped for closing: this tick
    // belongs to no row any more.
    if (!IsLogging() || run != m_logRun || m_state.Closing) return;

    m_state.RowMs += milliseconds;
    if (m_state.NextChannel >= UsableChannels(m_workspace)) {
        m_seams.logTimer.Stop();
        m_state.ElapsedMs += m_state.RowMs;
        m_state.AchievedMs = static_cast<float>(m_state.RowMs);
        WriteRow();
        m_seams.window.ProcessPendingEvents();
        if (run != m_logRun) return;
        m_state.RowMs = 0;
        if (IsLogging()) {
            // The next tick comes on the beat, as if the timer had run on:
            // neither the time spent on the row nor the lateness of this
            // tick stretches the rows.
            const double untilDue = m_nextTickDueMs - m_seams.clock.MonotonicMs();
            const auto first =
                static_cast<int32_t>(std::clamp<double>(std::llround(untilDue), 0.0, m_logTickMs));
            m_seams.logTimer.StartAfter(first, m_logTickMs);
            // The wait for the disk overlaps the next tick's period instead
            // of stretching the row. The row is in the file already; only
            // its way to the disk is in doubt.
            std::string error;
            if (!m_logFile.Sync(error)) {
                m_writeError = error;
                ++m_rowsNotFlushed;
            }
        }
    }
    ++m_state.NextChannel;
    if (m_state.NextChannel > UsableChannels(m_workspace))
        m_state.NextChannel = m_workspace.Snap != 0 ? -1 : 1;
}

void LoggerCore::WriteRow() {
    std::vector<LogColumn> columns;
    const int channels = UsableChannels(m_workspace);
    for (int i = 1; i <= channels; ++i)
        columns.push_back(
            {m_workspace.Items[static_cast<size_t>(i - 1)].Format, m_state.NetValues[i]});
    const std::string line = LogDataLine(m_seams.clock.Now(), m_state.ElapsedMs, columns,
                                         m_state.DecimalComma, m_regional);
    std::string error;
    if (m_logFile.Append(line, error)) {
        ++m_rowsWritten;
        m_writeError.clear();
        if (m_rowObserver) m_rowObserver(m_state.ElapsedMs, columns);
    } else {
        ++m_rowsLost;
        m_writeError = error;
    }
}

void LoggerCore::ViewLastLog() {
    const std::string folder = m_seams.settings.ReadSetting("LogFiles", "InitDir", "");
    const std::string name = m_seams.settings.ReadSetting("LogFiles", "InitFile", "");
    if (name.empty()) {
        m_seams.boxes.show("No log file has been created yet!", "View Last Log File",
                           MessageIcon::Information);
        return;
    }
    const std::string path = folder + PathSeparator + name;
    if (!PathExists(path)) {
        m_seams.boxes.show("Cannot find file " + path + "!", "View Last Log File",
                           MessageIcon::Information);
        return;
    }
    m_seams.shell.OpenFile(path);
}
