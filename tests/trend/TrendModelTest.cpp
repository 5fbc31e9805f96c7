#include "trend/TrendModel.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

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
