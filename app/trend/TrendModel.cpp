#include "trend/TrendModel.h"

#include <algorithm>
#include <charconv>
#include <limits>

TrendRing::TrendRing(size_t capacity) : m_buffer(std::max<size_t>(capacity, 1)) {}

void TrendRing::Push(TrendSample sample) {
    m_buffer[m_next] = sample;
    m_next = (m_next + 1) % m_buffer.size();
    m_size = std::min(m_size + 1, m_buffer.size());
}

SampleParts TrendRing::Samples() const {
    const std::span<const TrendSample> all(m_buffer);
    if (m_size < m_buffer.size()) return {all.first(m_size), {}};
    return {all.subspan(m_next), all.first(m_next)};
}

size_t TrendHistory::CapacityFor(double spanMs, double intervalMs) {
    return static_cast<size_t>(std::ceil(spanMs / intervalMs)) + 1;
}

void TrendHistory::Add(double t, const std::vector<TrendReading>& pass) {
    bool same = pass.size() == m_captions.size();
    for (size_t i = 0; same && i < pass.size(); ++i)
        same = pass[i].caption == m_captions[i];
    if (!same) {
        m_captions.clear();
        m_rings.clear();
        for (const auto& reading : pass) {
            m_captions.push_back(reading.caption);
            m_rings.emplace_back(m_capacity);
        }
    }
    for (size_t i = 0; i < pass.size(); ++i)
        m_rings[i].Push({t, pass[i].ok ? pass[i].value : std::numeric_limits<float>::quiet_NaN()});
}

std::vector<TrendRun> Thin(const SampleParts& samples, double t0, double t1, int columns,
                           bool joinBefore) {
    std::vector<TrendRun> runs;
    const size_t n = samples.size();
    // The samples are in time order: start at the first one inside.
    size_t lo = 0, hi = n;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (samples[mid].t < t0)
            lo = mid + 1;
        else
            hi = mid;
    }
    const double width = columns > 0 && t1 > t0 ? (t1 - t0) / columns : 1;
    TrendRun run;
    if (joinBefore && lo > 0 && lo < n && samples[lo].t <= t1 && !std::isnan(samples[lo - 1].v) &&
        !std::isnan(samples[lo].v))
        run.push_back({samples[lo - 1].t, samples[lo - 1].v});
    long column = -1;
    // Per slice its first, lowest, highest and last sample: the extremes
    // keep every peak, the first and last keep where a run starts and ends.
    TrendSample slice[4]{};
    bool any = false;
    const auto flush = [&] {
        if (!any) return;
        std::sort(std::begin(slice), std::end(slice),
                  [](const TrendSample& a, const TrendSample& b) { return a.t < b.t; });
        for (int k = 0; k < 4; ++k)
            if (k == 0 || slice[k].t != slice[k - 1].t) run.push_back({slice[k].t, slice[k].v});
        any = false;
    };
    const auto endRun = [&] {
        flush();
        if (!run.empty()) runs.push_back(std::move(run));
        run.clear();
    };
    for (size_t i = lo; i < n && samples[i].t <= t1; ++i) {
        const TrendSample& s = samples[i];
        if (std::isnan(s.v)) {
            endRun();
            continue;
        }
        const long c = static_cast<long>((s.t - t0) / width);
        if (c != column) {
            flush();
            column = c;
        }
        if (!any) {
            slice[0] = slice[1] = slice[2] = slice[3] = s;
            any = true;
        } else {
            if (s.v < slice[1].v) slice[1] = s;
            if (s.v > slice[2].v) slice[2] = s;
            slice[3] = s;
        }
    }
    endRun();
    return runs;
}

std::vector<std::string> SplitFields(std::string_view line, char separator) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                fields.back() += line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

namespace {

const std::string_view HeaderStart[] = {"Date", "Time", "Elapsed mS"};

// "12" of "12/05/2024": digits only, within [lo, hi].
bool Digits(std::string_view text, int lo, int hi, int& out) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

// Three numbers joined by any one separator character (the locale's).
bool Triple(std::string_view text, int (&parts)[3], const int (&lo)[3], const int (&hi)[3]) {
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        size_t end = start;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        if (k < 2 && end >= text.size()) return false;
        if (!Digits(text.substr(start, end - start), lo[k], hi[k], parts[k])) return false;
        if (k == 2 && end != text.size()) return false;
        start = end + 1;
    }
    return true;
}

template <typename T> bool Number(std::string_view text, char decimal, T& out) {
    char buffer[64];
    if (text.empty() || text.size() >= sizeof buffer) return false;
    for (size_t i = 0; i < text.size(); ++i)
        buffer[i] = text[i] == decimal ? '.' : text[i];
    const char* first = buffer;
    if (*first == '+') ++first;
    const auto [end, error] = std::from_chars(first, buffer + text.size(), out);
    return error == std::errc() && end == buffer + text.size();
}

} // namespace

bool LogReader::Feed(std::string_view chunk) {
    if (!m_error.empty()) return false;
    size_t start = 0;
    for (size_t i = 0; i < chunk.size(); ++i) {
        if (chunk[i] != '\n') continue;
        std::string_view line = chunk.substr(start, i - start);
        start = i + 1;
        if (!m_pending.empty()) {
            m_pending.append(line);
            line = m_pending;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool ok = Line(line);
        m_pending.clear();
        if (!ok) return false;
    }
    m_pending.append(chunk.substr(start));
    return true;
}

bool LogReader::Finish() {
    if (!m_error.empty()) return false;
    if (!m_pending.empty()) {
        std::string last;
        last.swap(m_pending);
        if (!last.empty() && last.back() == '\r') last.pop_back();
        if (!Line(last)) return false;
    }
    if (!m_haveHeader) {
        m_error = "It is not a log file: it is empty.";
        return false;
    }
    return true;
}

bool LogReader::Line(std::string_view line) {
    if (m_haveHeader) {
        if (!line.empty()) Row(line);
        return true;
    }
    return Header(line);
}

bool LogReader::Header(std::string_view line) {
    m_haveHeader = true;
    for (char separator : {',', ';'}) {
        std::vector<std::string> fields = SplitFields(line, separator);
        if (fields.size() < 3 ||
            !std::equal(std::begin(HeaderStart), std::end(HeaderStart), fields.begin()))
            continue;
        m_separator = separator;
        m_table.titles.assign(fields.begin() + 3, fields.end());
        m_table.channels.resize(m_table.titles.size());
        return true;
    }
    m_error = "It is not a log file: its first line does not start with "
              "\"Date,Time,Elapsed mS\".";
    return false;
}

void LogReader::Row(std::string_view line) {
    // The ";" form is that of a decimal-comma locale.
    const char decimal = m_separator == ';' ? ',' : '.';
    size_t start = 0;
    int field = 0;
    LogTable::Civil civil;
    double elapsed = 0;
    const float gap = std::numeric_limits<float>::quiet_NaN();
    const size_t channels = m_table.channels.size();
    for (;;) {
        const size_t end = std::min(line.find(m_separator, start), line.size());
        const std::string_view text = line.substr(start, end - start);
        if (field == 0) {
            int d[3];
            if (!Triple(text, d, {1, 1, 1}, {31, 12, 9999})) break;
            civil.day = d[0], civil.month = d[1], civil.year = d[2];
        } else if (field == 1) {
            int h[3];
            if (!Triple(text, h, {0, 0, 0}, {23, 59, 60})) break;
            civil.hour = h[0], civil.minute = h[1], civil.second = h[2];
        } else if (field == 2) {
            if (!Number(text, decimal, elapsed)) break;
            if (m_table.rows == 0) {
                m_table.start = civil;
                m_firstElapsed = elapsed;
            }
        } else if (static_cast<size_t>(field - 3) < channels) {
            float value;
            if (!Number(text, decimal, value) || !std::isfinite(value)) value = gap;
            m_table.channels[static_cast<size_t>(field - 3)].push_back(
                {elapsed - m_firstElapsed, value});
        }
        ++field;
        if (end == line.size()) break;
        start = end + 1;
    }
    if (field < 3) {
        // Not a row: nothing of it was kept.
        ++m_table.skippedRows;
        return;
    }
    // A row cut short (the end of a file written when the power went) has
    // gaps for the channels it lacks.
    for (size_t c = static_cast<size_t>(std::max(field - 3, 0)); c < channels; ++c)
        m_table.channels[c].push_back({elapsed - m_firstElapsed, gap});
    ++m_table.rows;
}
