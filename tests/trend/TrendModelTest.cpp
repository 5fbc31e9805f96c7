#include "trend/TrendModel.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::vector<double> Times(const SampleParts& parts) {
    std::vector<double> t;
    for (size_t i = 0; i < parts.size(); ++i)
        t.push_back(parts[i].t);
    return t;
}

// A ring per channel keeps the latest samples oldest first; a failed
// reading is a gap; new captions start afresh.
TEST(TrendHistory, BoundedPerChannelFailuresAreGapsAndNewCaptionsStartAfresh) {
    // An hour at the screen refresh's 333 ms.
    EXPECT_EQ(TrendHistory::CapacityFor(3600000, 333), 10812u);
    TrendHistory history(4);
    history.Add(0, {{"A", 0, true}});
    EXPECT_EQ(Times(history.Channel(0)), std::vector<double>{0});
    for (int i = 1; i < 10; ++i)
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
    EXPECT_EQ(
        (std::vector{runs[0].front().t, runs[0].back().t, runs[1].front().t, runs[1].back().t}),
        (std::vector<double>{100, 499, 501, 899}));
    size_t points = 0, peaks = 0;
    for (const auto& run : runs)
        for (const auto& p : run) {
            ++points;
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

// What a reader made of a log: the start, each channel's title and its
// samples as elapsed=value ("nan" for a gap), the rows skipped; or "error".
std::string Read(const std::string& text) {
    // Fed in pieces of 7 bytes: lines span chunks.
    LogReader reader;
    for (size_t i = 0; i < text.size(); i += 7)
        if (!reader.Feed(std::string_view(text).substr(i, 7))) return "error " + reader.Error();
    if (!reader.Finish()) return "error " + reader.Error();
    const LogTable& t = reader.Table();
    char start[32];
    std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", t.start.year, t.start.month,
                  t.start.day, t.start.hour, t.start.minute, t.start.second);
    std::string out = start;
    for (size_t ch = 0; ch < t.titles.size(); ++ch) {
        out += " | " + t.titles[ch] + ":";
        for (const TrendSample& s : t.channels.at(ch))
            out += " " + std::to_string(int(s.t)) + "=" +
                   (std::isnan(s.v) ? std::string("nan") : std::to_string(s.v).substr(0, 5));
    }
    return out + " | skipped " + std::to_string(t.skippedRows);
}

TEST(LogReader, ReadsBothFormsAndRefusesWhatIsNoLog) {
    EXPECT_EQ(Read("Date,Time,Elapsed mS,A,B\r\n01/02/2024,10:00:00,1000,1.25,-0.50\r\n"
                   "01/02/2024,10:00:01,2000,2.5,3\r\n"),
              "2024-02-01 10:00:00 | A: 0=1.250 1000=2.500 | B: 0=-0.50 1000=3.000 | skipped 0");
    // Semicolons, quoted titles, LF only.
    EXPECT_EQ(Read("Date;Time;Elapsed mS;\"Load; kN\";\"Say \"\"hi\"\"\"\n"
                   "31.12.2023;23:59:58;3000;1,5;-2,25\n"),
              "2023-12-31 23:59:58 | Load; kN: 0=1.500 | Say \"hi\": 0=-2.25 | skipped 0");
    // A damaged value and a short last row are gaps, a stray line is skipped.
    EXPECT_EQ(Read("Date,Time,Elapsed mS,A,B\r\n01/02/2024,10:00:00,0,x,1\r\ngarbage\r\n"
                   "01/02/2024,10:00:01,500,2"),
              "2024-02-01 10:00:00 | A: 0=nan 500=2.000 | B: 0=1.000 500=nan | skipped 1");
    EXPECT_EQ(Read("Date,Time,Elapsed mS,A\r\n"), "0000-00-00 00:00:00 | A: | skipped 0");
    for (const char* noLog : {"name,value\r\n1,2\r\n", ""}) {
        const std::string read = Read(noLog);
        EXPECT_EQ(read.substr(0, 6), "error ");
        EXPECT_GT(read.size(), 6u) << "with the reason";
    }
}

} // namespace
