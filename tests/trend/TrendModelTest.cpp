#include "TrendModel.h"

#include <gtest/gtest.h>

namespace {

std::vector<double> Times(const SampleParts& parts) {
    std::vector<double> t;
    for (size_t i = 0; i < parts.size(); ++i)
        t.push_back(parts[i].t);
    return t;
}

TEST(TrendRing, KeepsTheLatestSamplesOldestFirst) {
    TrendRing ring(3);
    EXPECT_EQ(ring.Samples().size(), 0u);
    ring.Push({1, 1});
    ring.Push({2, 2});
    EXPECT_EQ(Times(ring.Samples()), (std::vector<double>{1, 2}));
    for (double t : {3, 4, 5})
        ring.Push({t, 0});
    EXPECT_EQ(Times(ring.Samples()), (std::vector<double>{3, 4, 5}));
    EXPECT_EQ(ring.Size(), 3u);
}

TEST(TrendHistory, BoundedPerChannelFailuresAreGapsAndNewCaptionsStartAfresh) {
    // An hour at the screen refresh's 333 ms.
    EXPECT_EQ(TrendHistory::CapacityFor(3600000, 333), 10812u);
    TrendHistory history(4);
    for (int i = 0; i < 10; ++i)
        history.Add(i, {{"A", float(i), true}, {"B", 1, i != 9}});
    ASSERT_EQ(history.Channels(), 2u);
    EXPECT_EQ(Times(history.Channel(0)), (std::vector<double>{6, 7, 8, 9}));
    EXPECT_TRUE(std::isnan(history.Channel(1)[3].v));
    history.Add(10, {{"C", 5, true}});
    ASSERT_EQ(history.Channels(), 1u);
    EXPECT_EQ(history.Caption(0), "C");
    EXPECT_EQ(history.Channel(0).size(), 1u);
}

TEST(Thin, KeepsEachSlicesExtremesAndTheExactEndsOfEveryGap) {
    std::vector<TrendSample> s;
    for (int i = 0; i < 1000; ++i)
        s.push_back({double(i), float(i % 10 == 3 ? 9 : i % 10 == 7 ? -9 : 0)});
    s[500].v = NAN;
    const auto runs = Thin({s, {}}, 100, 899, 10);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].front().t, 100);
    EXPECT_EQ(runs[0].back().t, 499);
    EXPECT_EQ(runs[1].front().t, 501);
    EXPECT_EQ(runs[1].back().t, 899);
    size_t points = 0, peaks = 0;
    for (const auto& run : runs) {
        points += run.size();
        for (const auto& p : run)
            peaks += std::abs(p.v) == 9;
    }
    EXPECT_LE(points, 4u * 11);
    EXPECT_GE(peaks, 2u * 10); // both peaks of every slice
    // Thinned on from 600, the curve goes on from the sample before; never
    // from a gap.
    EXPECT_EQ(Thin({s, {}}, 600, 899, 10, true).at(0).front().t, 599);
    EXPECT_EQ(Thin({s, {}}, 501, 899, 10, true).at(0).front().t, 501);
    // Split across a ring's two parts, fewer samples than slices: all kept.
    const std::vector<TrendSample> a{{1, 1}, {2, 2}}, b{{3, 3}};
    EXPECT_EQ(Thin({a, b}, 0, 10, 100).at(0).size(), 3u);
}

struct LogCase {
    const char* name;
    std::string text;
    bool ok;
    std::vector<std::string> titles;
    std::vector<std::vector<float>> values; // per channel; NAN for a gap
    std::vector<double> times;              // of channel 0, ms from the first row
    size_t skipped = 0;
};

TEST(LogReader, ReadsBothFormsAndRefusesWhatIsNoLog) {
    const LogCase cases[] = {
        {"comma form",
         "Date,Time,Elapsed mS,A,B\r\n01/02/2024,10:00:00,1000,1.25,-0.50\r\n"
         "01/02/2024,10:00:01,2000,2.5,3\r\n",
         true,
         {"A", "B"},
         {{1.25f, 2.5f}, {-0.5f, 3}},
         {0, 1000}},
        {"semicolon form, quoted titles, LF only",
         "Date;Time;Elapsed mS;\"Load; kN\";\"Say "
         "\"\"hi\"\"\"\n01.02.2024;10:00:00;3000;1,5;-2,25\n",
         true,
         {"Load; kN", "Say \"hi\""},
         {{1.5f}, {-2.25f}},
         {0}},
        {"a damaged value and a short last row are gaps, a stray line is skipped",
         "Date,Time,Elapsed mS,A,B\r\n01/02/2024,10:00:00,0,x,1\r\ngarbage\r\n"
         "01/02/2024,10:00:01,500,2",
         true,
         {"A", "B"},
         {{NAN, 2}, {1, NAN}},
         {0, 500},
         1},
        {"header only", "Date,Time,Elapsed mS,A\r\n", true, {"A"}, {{}}, {}},
        {"not a log", "name,value\r\n1,2\r\n", false, {}, {}, {}},
        {"empty", "", false, {}, {}, {}},
    };
    for (const LogCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Fed in pieces of 7 bytes: lines span chunks.
        LogReader reader;
        bool ok = true;
        for (size_t i = 0; ok && i < c.text.size(); i += 7)
            ok = reader.Feed(std::string_view(c.text).substr(i, 7));
        ok = ok && reader.Finish();
        ASSERT_EQ(ok, c.ok) << reader.Error();
        if (!ok) {
            EXPECT_FALSE(reader.Error().empty());
            continue;
        }
        const LogTable& t = reader.Table();
        EXPECT_EQ(t.titles, c.titles);
        EXPECT_EQ(t.skippedRows, c.skipped);
        ASSERT_EQ(t.channels.size(), c.values.size());
        for (size_t ch = 0; ch < c.values.size(); ++ch) {
            ASSERT_EQ(t.channels[ch].size(), c.values[ch].size());
            for (size_t r = 0; r < c.values[ch].size(); ++r) {
                const float want = c.values[ch][r], got = t.channels[ch][r].v;
                EXPECT_TRUE(std::isnan(want) ? std::isnan(got) : want == got) << ch << "," << r;
                if (ch == 0) {
                    EXPECT_EQ(t.channels[0][r].t, c.times[r]);
                }
            }
        }
    }
}

TEST(LogReader, TakesTheStartFromTheFirstRow) {
    LogReader reader;
    ASSERT_TRUE(reader.Feed("Date,Time,Elapsed mS,A\n31/12/2023,23:59:58,120,1\n"));
    ASSERT_TRUE(reader.Finish());
    const LogTable::Civil s = reader.Table().start;
    EXPECT_EQ((std::vector<int>{s.year, s.month, s.day, s.hour, s.minute, s.second}),
              (std::vector<int>{2023, 12, 31, 23, 59, 58}));
}

} // namespace
