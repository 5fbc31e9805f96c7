// What each channel's reads came to over a run: reads made, failures by
// cause, the probes of a channel in error and how many it answered, the
// longest time a channel stayed failed and why it last failed.
// Both programs show these figures: the headless logger in its run summary,
// the desktop program in its statistics window.
//
//   stats.Succeeded(i, clock.MonotonicMs());
//   stats.Failed(i, FailureText(code), clock.MonotonicMs());
//   const auto table = StatisticsTable(workspace, stats, clock.MonotonicMs());
#pragma once

#include "core/MainWindowState.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct WorkspaceClass;

// A driver result code as the figures name it: "-100 No response.", or
// "Unknown: -5" for a code without a text of its own.
std::string FailureText(int16_t code);

struct ChannelFigures {
    int64_t reads = 0;  // reads tried, failed ones included
    int64_t failed = 0; // of these, the ones that failed
    std::map<std::string, int64_t> failuresByCause;
    int64_t probes = 0; // short reads of the channel while in error, not among reads
    int64_t probesAnswered = 0;
    double longestFailedMs = 0;           // longest run of failed reads that has ended
    std::optional<double> failingSinceMs; // the first failure of the run still going on
    std::string lastFailure;
};

class ChannelStatistics {
  public:
    // A read of channel i (1 to 24) at the monotonic time nowMs.
    void Succeeded(int channel, double nowMs);
    void Failed(int channel, const std::string& cause, double nowMs);
    // A probe of channel i in error: answered, which ends its failure, or not.
    void ProbeAnswered(int channel, double nowMs);
    void ProbeFailed(int channel, const std::string& cause);
    // Starts the figures afresh; a channel that is failing now counts its
    // present outage from nowMs on.
    void Reset(double nowMs);

    const ChannelFigures& Of(int channel) const { return m_figures[Slot(channel)]; }
    // The longest run of failed reads, the one still going on until nowMs included.
    double LongestFailedMs(int channel, double nowMs) const;
    bool AnyFailed() const;

  private:
    static size_t Slot(int channel);
    std::array<ChannelFigures, ChannelSlots> m_figures{};
};

// "0:00:00.0": hours, minutes, seconds and tenths.
std::string DurationText(double ms);

// The figures as a table of texts, a header row first, then one row per
// channel: caption, station, reads, failed, failures by cause, longest
// failure, last failure, probes, probes answered.
std::vector<std::vector<std::string>>
StatisticsTable(const WorkspaceClass& workspace, const ChannelStatistics& statistics, double nowMs);
