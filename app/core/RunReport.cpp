#include "core/RunReport.h"

#include "base/NumberText.h"
#include "core/LoggerCore.h"

#include <algorithm>

int RunExitStatus(const RunTotals& totals, bool anyReadFailed) {
    if (totals.rowsLost > 0 || totals.rowsNotFlushed > 0) return RunRowsLost;
    return anyReadFailed ? RunReadsFailed : RunClean;
}

RunTotals TotalsOf(const LoggerCore& core, const std::string& logPath) {
    return {core.RowsWritten(), core.RowsLost(), core.RowsNotFlushed(), core.Reconnects(), logPath};
}

StatusEvents EventsOf(const LoggerCore& core, const MainWindowState& state,
                      const WorkspaceClass& workspace) {
    StatusEvents events;
    const int channels = UsableChannels(workspace);
    for (int i = 1; i <= channels; ++i)
        events.channelsInError.push_back(state.CommsError[i]);
    events.rowsLost = core.RowsLost();
    events.rowsNotFlushed = core.RowsNotFlushed();
    events.reconnects = core.Reconnects();
    events.failedReopens = core.FailedReopens();
    return events;
}

std::string RunSummaryText(const std::vector<std::vector<std::string>>& table,
                           const RunTotals& totals) {
    std::vector<size_t> widths;
    for (const auto& row : table) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    std::string text;
    for (const auto& row : table) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const bool number = c >= 1 && c <= 3; // station, reads, failed
            const std::string pad(widths[c] - row[c].size(), ' ');
            line += (c ? "  " : "") + (number ? pad + row[c] : row[c] + pad);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    text += "Rows written: " + IntegerText(totals.rowsWritten) + "\n";
    text += "Rows lost: " + IntegerText(totals.rowsLost) + "\n";
    if (totals.rowsNotFlushed > 0)
        text += "Rows written but not flushed to the disk: " + IntegerText(totals.rowsNotFlushed) +
                "\n";
    text += "Reconnects: " + IntegerText(totals.reconnects) + "\n";
    text += "Log file: " + (totals.logPath == "-" ? "standard output" : totals.logPath) + "\n";
    return text;
}

std::string StatusLineText(const std::string& label, const RunTotals& totals,
                           const StatusEvents& events) {
    const auto inError =
        std::count(events.channelsInError.begin(), events.channelsInError.end(), true);
    std::string text =
        label + (label.empty() ? "" : " | ") + IntegerText(totals.rowsWritten) + " rows";
    if (totals.rowsLost > 0) text += ", " + IntegerText(totals.rowsLost) + " lost";
    if (totals.rowsNotFlushed > 0)
        text += ", " + IntegerText(totals.rowsNotFlushed) + " not flushed";
    text += " | " + IntegerText(inError) + " of " + IntegerText(events.channelsInError.size()) +
            " channels in error";
    return text;
}

std::optional<std::string> StatusReporter::Report(double nowMs, const std::string& line,
                                                  const StatusEvents& events) {
    const bool first = !m_lastMs.has_value();
    const bool changed = first || events != m_lastEvents;
    m_lastEvents = events;
    if (m_terminal) {
        if (!first && line == m_lastLine) return std::nullopt;
        m_lastLine = line;
        m_lastMs = nowMs;
        m_open = true;
        // Back to the start of the line, the new text, the rest of the old one cleared.
        return "\r" + line + "\x1b[K";
    }
    if (!changed && nowMs - *m_lastMs < QuietIntervalMs) return std::nullopt;
    m_lastMs = nowMs;
    m_lastLine = line;
    return line + "\n";
}

std::string StatusReporter::Finish() {
    if (!m_open) return {};
    m_open = false;
    return "\n";
}
