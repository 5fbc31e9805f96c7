// How an unattended run went, told on stderr: the status line and when it
// is written, the summary at the end and the exit status.
//
//   StatusReporter status(isatty(2));
//   every second: if (auto text = status.Report(now, line, events)) fputs(text->c_str(), stderr);
//   at the end:   fputs(status.Finish().c_str(), stderr);
//                 fputs(RunSummaryText(table, totals).c_str(), stderr);
//                 return RunExitStatus(totals, statistics.AnyFailed());
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class LoggerCore;
struct MainWindowState;
struct WorkspaceClass;

struct RunTotals {
    int64_t rowsWritten = 0;
    int64_t rowsLost = 0;       // rows that never reached the file
    int64_t rowsNotFlushed = 0; // written, but the flush to the disk failed
    int64_t reconnects = 0;
    std::string logPath;
};

// Exit statuses of the headless logger.
enum RunStatus : int {
    RunClean = 0,         // every row written, every reading succeeded
    RunCouldNotStart = 1, // nothing was logged
    RunReadsFailed = 2,   // the run completed, but some readings failed
    RunRowsLost = 3,      // some rows could not be written (wins over 2)
};
int RunExitStatus(const RunTotals& totals, bool anyReadFailed);
RunTotals TotalsOf(const LoggerCore& core, const std::string& logPath);

// The statistics table (header row first) in aligned columns, then the totals.
std::string RunSummaryText(const std::vector<std::vector<std::string>>& table,
                           const RunTotals& totals);

// What makes the status line worth a new line on a log: a channel going
// into or out of error, a write failing, the port reopened.
struct StatusEvents {
    std::vector<bool> channelsInError;
    int64_t rowsLost = 0;
    int64_t rowsNotFlushed = 0;
    int64_t reconnects = 0;
    int64_t failedReopens = 0;
    bool operator==(const StatusEvents&) const = default;
};

StatusEvents EventsOf(const LoggerCore& core, const MainWindowState& state,
                      const WorkspaceClass& workspace);

// The label of the logging engine (which tells the reconnects) followed by
// the rows and the channels in error.
std::string StatusLineText(const std::string& label, const RunTotals& totals,
                           const StatusEvents& events);

class StatusReporter {
  public:
    // On a terminal the line is rewritten in place whenever it changes;
    // elsewhere a line is written when the events change, else once a minute.
    explicit StatusReporter(bool terminal) : m_terminal(terminal) {}
    static constexpr double QuietIntervalMs = 60000;

    // The text to write now, or nothing.
    std::optional<std::string> Report(double nowMs, const std::string& line,
                                      const StatusEvents& events);
    // Ends a line left open on a terminal; empty otherwise.
    std::string Finish();

  private:
    bool m_terminal;
    bool m_open = false; // a line on the terminal waits for its end
    std::optional<double> m_lastMs;
    std::string m_lastLine;
    StatusEvents m_lastEvents;
};
