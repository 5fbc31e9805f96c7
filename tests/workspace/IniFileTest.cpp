#include "workspace/IniFile.h"

#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

TEST(IniRead, CaseBlanksQuotesNullCommentsAndLineEndings) {
    const std::string text =
        "orphan=before any section\n; a comment=not an entry\n"
        "[WORKSPACE]\r\nlogInterval=250\r\na =  plain text \t\r\n"
        "b=\"  padded \"  \r\nc='single'\r\nd=\"\"twice\"\"\r\ne=\"mixed'\r\n"
        "f=\"\r\nempty=\r\nblank=   \r\nquotes=\"\"\r\nnull=*NULL*\r\n"
        "nullish=*null*\r\n  ;k=commented out\nno equals sign\nkey=first\n"
        "KEY=second\n[t]\nother=1\rcmd=SYS\r!002:SYS\n\r\ncr=x\r\r"
        "[workspace]\nlate=in a repeated section\nkey=third\nlast=no final newline";
    // "section/key=value read" between bars, "-" for the default.
    const std::string cases =
        "Workspace/LogInterval=250|workspace/a=plain text|Workspace/b=  padded |"
        "Workspace/c=single|Workspace/d=\"twice\"|Workspace/e=\"mixed'|Workspace/f=\"|"
        "Workspace/empty=-|Workspace/blank=-|Workspace/quotes=-|Workspace/null=|"
        "Workspace/nullish=*null*|Other/a=-|Workspace/key=first|Workspace/;k=-|"
        "Workspace/orphan=-|Workspace/other=-|t/other=1|t/cmd=SYS|t/!002:SYS=-|t/cr=x|"
        "Workspace/late=in a repeated section|Workspace/last=no final newline|";
    for (size_t at = 0, bar; (bar = cases.find('|', at)) != std::string::npos; at = bar + 1) {
        const std::string c = cases.substr(at, bar - at);
        const size_t slash = c.find('/'), equals = c.find('=', slash);
        EXPECT_EQ(IniRead(text, c.substr(0, slash), c.substr(slash + 1, equals - slash - 1), "-"),
                  c.substr(equals + 1))
            << c;
    }
    EXPECT_EQ(IniRead("\xEF\xBB\xBF[Workspace]\r\nTitle=x\r\n", "Workspace", "Title", "-"), "x");
    using namespace std::string_literals;
    EXPECT_EQ(IniRead("\xff\n[s]\nkey=v\0al\n"s, "s", "key", "-"), "v\0al"s);
    EXPECT_EQ(IniRead(std::string("[s\n=\n[\n]\n==\n[]\n=x\n"), "", "", "-"), "=");
}

class IniFileTest : public ScratchTest {};

TEST_F(IniFileTest, ReadsOnlyRegularFilesWritesAtTheEndOrInPlaceAndCannotInjectLines) {
    const std::string notes(10000, 'n');
    PutFileBytes(Path("w.lws"), "[Workspace]\r\nNotes=" + notes + "\r\n");
    EXPECT_EQ(ReadIniValue(Path("w.lws"), "Workspace", "Notes", ""), notes);
    EXPECT_EQ(ReadIniValue(Path("missing.ini"), "s", "k", "dflt"), "dflt");
    EXPECT_EQ(ReadIniValue(m_folder.string(), "s", "k", "dflt"), "dflt");
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = Path("fifo");
    ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
#endif
    EXPECT_EQ(ReadIniValue(device, "s", "k", "dflt"), "dflt"); // and does not hang
    PutFileBytes(Path("huge.ini"), "[s]\r\nk=v\r\n");
    std::filesystem::resize_file(Path("huge.ini"), MaxIniFileBytes + 1);
    EXPECT_EQ(ReadIniValue(Path("huge.ini"), "s", "k", "dflt"), "dflt");
    EXPECT_FALSE(WriteIniValue(Path("huge.ini"), "s", "k", "w"));
    ASSERT_TRUE(WriteIniValue(Path("new.ini"), "Workspace", "Title", "Title Text"));
    ASSERT_TRUE(WriteIniValue(Path("new.ini"), "Workspace", "Notes", ""));
    EXPECT_EQ(FileBytes(Path("new.ini")), "[Workspace]\r\nTitle=Title Text\r\nNotes=\r\n");
    EXPECT_FALSE(WriteIniValue(Path("no/such/folder.ini"), "s", "k", "v"));

    PutFileBytes(Path("c.ini"), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(WriteIniValue(Path("c.ini"), "a", "z", "3"));
    ASSERT_TRUE(WriteIniValue(Path("c.ini"), "C", "w", "4"));
    EXPECT_EQ(FileBytes(Path("c.ini")), "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");

    PutFileBytes(Path("d.ini"), "; settings\n[LogFiles]\nInitDir=/old\n\n[WorkspaceFiles]\n"
                                "initfile = Old Name \nno equals here\nInitFile=duplicate\n");
    ASSERT_TRUE(WriteIniValue(Path("d.ini"), "workspacefiles", "InitFile", "New"));
    EXPECT_EQ(FileBytes(Path("d.ini")),
              "; settings\r\n[LogFiles]\r\nInitDir=/old\r\n\r\n[WorkspaceFiles]\r\n"
              "initfile=New\r\nno equals here\r\nInitFile=duplicate\r\n");
    // A line break cannot stand in a value (it would inject entries); names
    // that could not be read back are refused.
    const std::string file = Path("v.ini");
    ASSERT_TRUE(WriteIniValue(file, "s", "k", "one\r\n[s]\r\nother=injected\nthree"));
    const std::pair<const char*, const char*> refused[] = {
        {"s", ""}, {"s", "a=b"}, {"s", ";k"}, {"s", "k\r\nx"}, {"s]", "k"}, {" s", "k"}, {"", "k"}};
    for (const auto& [section, key] : refused)
        EXPECT_FALSE(WriteIniValue(file, section, key, "v")) << section << "/" << key;
    EXPECT_EQ(FileBytes(file), "[s]\r\nk=one [s] other=injected three\r\n");
}

TEST_F(IniFileTest, ReplacesTheFileWholeKeepingModeAndLinks) {
    PutFileBytes(Path("real.lws"), "[s]\r\nk=v\r\n");
#ifdef _WIN32
    // A file of two names is written in place, so both keep the new text.
    std::filesystem::create_hard_link(Path("real.lws"), Path("link.lws"));
    ASSERT_TRUE(WriteIniValue(Path("link.lws"), "s", "k", "w"));
    EXPECT_EQ(FileBytes(Path("real.lws")), "[s]\r\nk=w\r\n");
    EXPECT_EQ(StoreIniText(m_folder.string(), "x"), EISDIR);
    EXPECT_EQ(StoreIniText("NUL", "x"), EINVAL);
    EXPECT_EQ(EntryCount(), 2u); // no temporary file left beside
    // Read-only, as the file's attribute.
    std::filesystem::permissions(Path("real.lws"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
#else
    ASSERT_EQ(chmod(Path("real.lws").c_str(), 0640), 0);
    std::filesystem::create_symlink(Path("real.lws"), Path("link.lws"));
    ASSERT_TRUE(WriteIniValue(Path("link.lws"), "s", "k", "w"));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("link.lws")));
    EXPECT_EQ(FileBytes(Path("real.lws")), "[s]\r\nk=w\r\n");
    struct stat st;
    ASSERT_EQ(stat(Path("real.lws").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(StoreIniText(m_folder.string(), "x"), EISDIR);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(StoreIniText(Path("fifo"), "x"), EINVAL); // never renamed over
    EXPECT_EQ(std::filesystem::status(Path("fifo")).type(), std::filesystem::file_type::fifo);
    EXPECT_EQ(EntryCount(), 3u); // no temporary file left beside

    if (geteuid() == 0) return; // permissions do not bind the superuser
    ASSERT_EQ(chmod(Path("real.lws").c_str(), 0444), 0);
#endif
    EXPECT_EQ(StoreIniText(Path("real.lws"), "x"), EACCES);
    EXPECT_EQ(FileBytes(Path("real.lws")), "[s]\r\nk=w\r\n");
}

} // namespace
