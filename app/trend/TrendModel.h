// What the trend window plots, without a toolkit: the recent readings of
// every channel in bounded rings, a finished log file read into columns, and
// the thinning of either to a few points per pixel column for drawing.
//
//   TrendHistory live(TrendHistory::CapacityFor(3600000, 333));
//   live.Add(nowMs, {{"Load", 12.5f, true}, {"Supply", 0, false}});
//   auto runs = Thin(live.Channel(0), nowMs - 60000, nowMs, 400);
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One reading at a time in ms; a failed reading has a NaN value.
struct TrendSample {
    double t;
    float v;
};

// The samples of one channel, oldest first, as at most two contiguous parts.
struct SampleParts {
    std::span<const TrendSample> first, second;
    size_t size() const { return first.size() + second.size(); }
    const TrendSample& operator[](size_t i) const {
        return i < first.size() ? first[i] : second[i - first.size()];
    }
};

// A fixed number of the latest samples; the oldest is overwritten.
class TrendRing {
  public:
    explicit TrendRing(size_t capacity);
    void Push(TrendSample sample);
    SampleParts Samples() const;
    size_t Size() const { return m_size; }
    size_t Capacity() const { return m_buffer.size(); }

  private:
    std::vector<TrendSample> m_buffer;
    size_t m_next = 0;
    size_t m_size = 0;
};

struct TrendReading {
    std::string caption;
    float value = 0;
    bool ok = true; // false: the reading failed, a gap in the curve
};

// Every channel's ring; a pass with other captions (another workspace)
// starts the history afresh.
class TrendHistory {
  public:
    explicit TrendHistory(size_t capacityPerChannel) : m_capacity(capacityPerChannel) {}
    // Enough samples for `spanMs` at one sample every `intervalMs`.
    static size_t CapacityFor(double spanMs, double intervalMs);

    void Add(double t, const std::vector<TrendReading>& pass);
    size_t Channels() const { return m_rings.size(); }
    const std::string& Caption(size_t channel) const { return m_captions[channel]; }
    SampleParts Channel(size_t channel) const { return m_rings[channel].Samples(); }
    size_t CapacityPerChannel() const { return m_capacity; }

  private:
    size_t m_capacity;
    std::vector<std::string> m_captions;
    std::vector<TrendRing> m_rings;
};

// A stretch of a curve without a gap.
struct TrendPoint {
    double t;
    double v;
};
using TrendRun = std::vector<TrendPoint>;

// The samples within [t0, t1] thinned to at most four points (the first, the
// lowest, the highest and the last, in time order) per one of `columns`
// equal time slices, split into runs at every failed reading. A curve of any
// length so costs a few points per pixel column to draw, no peak is lost and
// every gap keeps its exact ends. `joinBefore`: the first run starts at the
// last sample before t0 when neither it nor the first inside is a gap, so a
// curve thinned in two parts at t0 stays one line.
std::vector<TrendRun> Thin(const SampleParts& samples, double t0, double t1, int columns,
                           bool joinBefore = false);

// A CSV log written by either program: "Date,Time,Elapsed mS,<titles>" (or
// the ";" form of a decimal-comma locale), then rows of date DD/MM/YYYY, time
// HH:MM:SS, elapsed ms and one value per channel.
struct LogTable {
    struct Civil {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    };
    std::vector<std::string> titles;                // one per channel
    Civil start;                                    // date and time of the first row
    std::vector<std::vector<TrendSample>> channels; // t: elapsed ms since the first row
    size_t rows = 0;
    size_t skippedRows = 0; // rows without a date, time or elapsed value
};

// Reads a log file's text incrementally (a line at a time, any line ending).
class LogReader {
  public:
    // Feeds the next chunk of the file; false once the text is not a log
    // (Error() tells why), after which the rest is ignored.
    bool Feed(std::string_view chunk);
    // The end of the file; false when it was not a log.
    bool Finish();
    const std::string& Error() const { return m_error; }
    LogTable& Table() { return m_table; }

  private:
    bool Line(std::string_view line);
    bool Header(std::string_view line);
    void Row(std::string_view line);

    LogTable m_table;
    std::string m_pending;
    std::string m_error;
    bool m_haveHeader = false;
    char m_separator = ',';
    double m_firstElapsed = 0;
};

// Splits one line at `separator`, honouring fields in double quotes (""
// stands for one quote inside them).
std::vector<std::string> SplitFields(std::string_view line, char separator);
