#include "IniFile.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(IniRead, MatchesSectionAndKeyWithoutRegardToCase) {
    const std::string text = "[WORKSPACE]\r\nlogInterval=250\r\n";
    EXPECT_EQ(IniRead(text, "Workspace", "LogInterval", "1000"), "250");
    EXPECT_EQ(IniRead(text, "workspace", "LOGINTERVAL", "1000"), "250");
    EXPECT_EQ(IniRead(text, "Other", "LogInterval", "1000"), "1000");
}

TEST(IniRead, TrimsBlanksAndOnePairOfQuotes) {
    const std::string text = "[s]\n"
                             "a =  plain text \t\n"
                             "b=\"  padded \"  \n"
                             "c='single'\n"
                             "d=\"\"quoted twice\"\"\n"
                             "e=\"mixed'\n"
                             "f=\"\n";
    EXPECT_EQ(IniRead(text, "s", "a", "-"), "plain text");
    EXPECT_EQ(IniRead(text, "s", "b", "-"), "  padded ");
    EXPECT_EQ(IniRead(text, "s", "c", "-"), "single");
    EXPECT_EQ(IniRead(text, "s", "d", "-"), "\"quoted twice\"");
    EXPECT_EQ(IniRead(text, "s", "e", "-"), "\"mixed'");
    EXPECT_EQ(IniRead(text, "s", "f", "-"), "\"");
}

TEST(IniRead, EmptyValuesGiveTheDefaultAndNullMarkerGivesEmpty) {
    const std::string text = "[s]\r\nempty=\r\nblank=   \r\nquotes=\"\"\r\nnull=*NULL*\r\n"
                             "nullish=*null*\r\n";
    EXPECT_EQ(IniRead(text, "s", "empty", "dflt"), "dflt");
    EXPECT_EQ(IniRead(text, "s", "blank", "dflt"), "dflt");
    EXPECT_EQ(IniRead(text, "s", "quotes", "dflt"), "dflt");
    EXPECT_EQ(IniRead(text, "s", "null", "dflt"), "");
    EXPECT_EQ(IniRead(text, "s", "nullish", "dflt"), "*null*");
    EXPECT_EQ(IniRead(text, "s", "missing", "dflt"), "dflt");
}

TEST(IniRead, SurvivesWhatRealFilesContain) {
    const std::string text = "orphan=before any section\n"
                             "; a comment=not an entry\n"
                             "\n"
                             "[s]\n"
                             "  ;key=commented out\n"
                             "a line without equals sign\n"
                             "key=first\n"
                             "KEY=second\n"
                             "[t]\n"
                             "other=1\n"
                             "[S]\n"
                             "late=found in a repeated section\n"
                             "key=third\n"
                             "last=no final newline";
    EXPECT_EQ(IniRead(text, "s", "key", "-"), "first");
    EXPECT_EQ(IniRead(text, "s", ";key", "-"), "-");
    EXPECT_EQ(IniRead(text, "s", "orphan", "-"), "-");
    EXPECT_EQ(IniRead(text, "s", "other", "-"), "-");
    EXPECT_EQ(IniRead(text, "s", "late", "-"), "found in a repeated section");
    EXPECT_EQ(IniRead(text, "s", "last", "-"), "no final newline");
    EXPECT_EQ(IniRead(text, "t", "other", "-"), "1");
}

TEST(IniRead, JunkNeverCrashes) {
    std::mt19937 random(7);
    std::string junk(200000, '\0');
    for (char& c : junk)
        c = static_cast<char>(random());
    junk += std::string("\n[s]\nkey=v\0al\n", 13);
    EXPECT_EQ(IniRead(junk, "s", "key", "-"), std::string("v\0al", 4));
    EXPECT_EQ(IniRead(std::string("[s\n=\n[\n]\n==\n[]\n=x\n"), "", "", "-"), "=");
}

class IniFileTest : public TempFolder {};

TEST_F(IniFileTest, ReadsLongValuesWhole) {
    const std::string notes(10000, 'n');
    WriteBytes(Path("w.lws"), "[Workspace]\r\nNotes=" + notes + "\r\n");
    EXPECT_EQ(ReadIniValue(Path("w.lws"), "Workspace", "Notes", ""), notes);
}

TEST_F(IniFileTest, UnreadableFilesGiveTheDefault) {
    EXPECT_EQ(ReadIniValue(Path("missing.ini"), "s", "k", "dflt"), "dflt");
    EXPECT_EQ(ReadIniValue(m_folder.string(), "s", "k", "dflt"), "dflt");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReadIniValue(Path("fifo"), "s", "k", "dflt"), "dflt"); // and does not hang

    const std::string huge = Path("huge.ini");
    WriteBytes(huge, "[s]\r\nk=v\r\n");
    std::filesystem::resize_file(huge, MaxIniFileBytes + 1);
    EXPECT_EQ(ReadIniValue(huge, "s", "k", "dflt"), "dflt");
    std::string text;
    EXPECT_EQ(LoadIniText(huge, text), EFBIG);
    EXPECT_FALSE(WriteIniValue(huge, "s", "k", "w"));
}

TEST_F(IniFileTest, WritingCreatesAMissingFileWithCrLf) {
    ASSERT_TRUE(WriteIniValue(Path("new.ini"), "Workspace", "Title", "Title Text"));
    ASSERT_TRUE(WriteIniValue(Path("new.ini"), "Workspace", "Notes", ""));
    EXPECT_EQ(ReadBytes(Path("new.ini")), "[Workspace]\r\nTitle=Title Text\r\nNotes=\r\n");
    EXPECT_FALSE(WriteIniValue(Path("no/such/folder.ini"), "s", "k", "v"));
}

TEST_F(IniFileTest, ReplacesInPlaceKeepingEveryOtherLine) {
    WriteBytes(Path("c.ini"), "; settings\n"
                              "[LogFiles]\n"
                              "InitDir=/old\n"
                              "\n"
                              "[WorkspaceFiles]\n"
                              "initfile = Old Name \n"
                              "no equals here\n"
                              "InitFile=duplicate\n"
                              "InitDir=/ws");
    ASSERT_TRUE(WriteIniValue(Path("c.ini"), "workspacefiles", "InitFile", "New"));
    EXPECT_EQ(ReadBytes(Path("c.ini")), "; settings\r\n"
                                        "[LogFiles]\r\n"
                                        "InitDir=/old\r\n"
                                        "\r\n"
                                        "[WorkspaceFiles]\r\n"
                                        "initfile=New\r\n"
                                        "no equals here\r\n"
                                        "InitFile=duplicate\r\n"
                                        "InitDir=/ws\r\n");
    EXPECT_EQ(ReadIniValue(Path("c.ini"), "WorkspaceFiles", "InitFile", ""), "New");
}

TEST_F(IniFileTest, AddsKeysAtTheEndOfTheirSectionAndSectionsAtTheEnd) {
    WriteBytes(Path("c.ini"), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(WriteIniValue(Path("c.ini"), "a", "z", "3"));
    ASSERT_TRUE(WriteIniValue(Path("c.ini"), "C", "w", "4"));
    EXPECT_EQ(ReadBytes(Path("c.ini")), "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
}

TEST_F(IniFileTest, ValuesReadBackAsWritten) {
    const std::string file = Path("v.ini");
    for (const std::string& value :
         std::initializer_list<std::string>{"  leading and trailing  ", "\"quoted\"", "'single'",
                                            "a=b;c", "[not a section]", std::string(300, 'x')}) {
        ASSERT_TRUE(WriteIniValue(file, "s", "k", value));
        EXPECT_EQ(ReadIniValue(file, "s", "k", "-"), value);
    }
    // A line break must not split the entry and inject a line of its own.
    ASSERT_TRUE(WriteIniValue(file, "s", "k", "one\r\n[s]\r\nother=injected\nthree"));
    EXPECT_EQ(ReadIniValue(file, "s", "k", "-"), "one [s] other=injected three");
    EXPECT_EQ(ReadIniValue(file, "s", "other", "-"), "-");
}

TEST_F(IniFileTest, RefusesNamesThatCannotStandInAFile) {
    const std::string file = Path("n.ini");
    WriteBytes(file, "[s]\r\nk=v\r\n");
    EXPECT_FALSE(WriteIniValue(file, "s", "", "v"));
    EXPECT_FALSE(WriteIniValue(file, "s", "a=b", "v"));
    EXPECT_FALSE(WriteIniValue(file, "s", ";k", "v"));
    EXPECT_FALSE(WriteIniValue(file, "s", "k\r\nx", "v"));
    EXPECT_FALSE(WriteIniValue(file, "s]", "k", "v"));
    EXPECT_FALSE(WriteIniValue(file, " s", "k", "v"));
    EXPECT_FALSE(WriteIniValue(file, "", "k", "v"));
    EXPECT_EQ(ReadBytes(file), "[s]\r\nk=v\r\n");
}

TEST_F(IniFileTest, ReplacesTheFileWholeAndLeavesNothingBeside) {
    const std::string file = Path("w.lws");
    WriteBytes(file, "[s]\r\nk=v\r\n");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(WriteIniValue(file, "s", "k", "w"));
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(EntryCount(), 1u);

    EXPECT_EQ(StoreIniText(m_folder.string(), "x"), EISDIR);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
    WriteBytes(Path("real.lws"), "[s]\r\nk=v\r\n");
    std::filesystem::create_symlink(Path("real.lws"), Path("link.lws"));
    ASSERT_TRUE(WriteIniValue(Path("link.lws"), "s", "k", "w"));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("link.lws")));
    EXPECT_EQ(ReadBytes(Path("real.lws")), "[s]\r\nk=w\r\n");
}

TEST_F(IniFileTest, ReadOnlyFileStaysUntouched) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string file = Path("ro.lws");
    WriteBytes(file, "[s]\r\nk=v\r\n");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(WriteIniValue(file, "s", "k", "w"));
    EXPECT_EQ(ReadBytes(file), "[s]\r\nk=v\r\n");
    EXPECT_EQ(StoreIniText(file, "x"), EACCES);
}

} // namespace
