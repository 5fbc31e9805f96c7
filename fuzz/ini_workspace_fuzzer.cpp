// Arbitrary bytes as a profile file and as a workspace file. An entry
// written must read back as written; a loaded workspace, saved, must load back to the same
// workspace, and saving that again gives the same bytes.
//
// Input: a flags byte (bit 0 comma locale, bit 1 USB driver fault), a length
// byte n, n bytes "section" 0x01 "key" 0x01 "value" for one entry to write,
// and the rest of the input as the file.
#include "FuzzCheck.h"
#include "base/Channels.h"
#include "support/FakeMessageBoxes.h"
#include "support/FileBytes.h"
#include "workspace/IniFile.h"
#include "workspace/WorkspaceFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// Files live on a memory file system when there is one: the target writes
// and renames for every input. The folder goes at exit.
std::string File(const char* name) {
    static char path[64]; // outlives every static string
    static const std::string folder = [] {
        std::snprintf(path, sizeof path, "%s/tarnvik-ini-fuzz-XXXXXX",
                      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        FUZZ_CHECK(mkdtemp(path) != nullptr, "cannot create %s", path);
        std::atexit([] { std::filesystem::remove_all(path); });
        return std::string(path) + "/";
    }();
    return folder + name;
}

// What a written value reads back as: a line break cannot stand in an entry
// and becomes a blank, NUL is dropped; an empty value reads as the default.
std::string StoredForm(const std::string& value) {
    std::string stored;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        if (value[i] == '\r' || value[i] == '\n') stored += ' ';
        if (value[i] != '\0' && value[i] != '\r' && value[i] != '\n') stored += value[i];
    }
    return stored.empty() ? "\x02" : stored == "*NULL*" ? "" : stored;
}

void CheckEntryWrite(const std::string& file, const std::string& entry) {
    const size_t a = entry.find('\x01');
    const size_t b = a == std::string::npos ? a : entry.find('\x01', a + 1);
    if (b == std::string::npos) return;
    const std::string section = entry.substr(0, a), key = entry.substr(a + 1, b - a - 1);
    const std::string value = entry.substr(b + 1), path = File("entry.ini");
    PutFileBytes(path, file);
    if (!WriteIniValue(path, section, key, value)) return;
    const std::string back = ReadIniValue(path, section, key, "\x02");
    FUZZ_CHECK(back == StoredForm(value), "wrote [%s] %s=\"%s\", read back \"%s\"", section.c_str(),
               key.c_str(), value.c_str(), back.c_str());
}

// Text that only a hand-edited file can hold and that no entry can keep: a
// line break or NUL inside a value, or a value that reads as the empty mark.
// Notes keep their CR LF line breaks as "|".
bool Unstorable(std::string text, bool notes = false) {
    for (size_t p; notes && (p = text.find("\r\n")) != std::string::npos;)
        text.replace(p, 2, "|");
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || text == "*NULL*";
}

// Numbers come back to the file's 7 significant digits; empty texts as
// their defaults.
void CheckSameWorkspace(WorkspaceClass first, const WorkspaceClass& again) {
    const auto near = [](float& a, float b) {
        if ((std::isnan(a) && std::isnan(b)) ||
            std::fabs(a - b) <= 5.0000001e-7 * std::max(std::fabs(a), std::fabs(b)))
            a = b;
    };
    if (first.Title.empty()) first.Title = "Title Text";
    first.Notes = again.Notes; // a typed "|" and a line break are one in the file
    near(first.LogDefault, again.LogDefault);
    for (size_t i = 0; i < first.Items.size() && i < again.Items.size(); ++i) {
        ItemClass& item = first.Items[i];
        const ItemClass defaults = DefaultChannelItem(static_cast<int>(i) + 1);
        if (item.Caption.empty()) item.Caption = defaults.Caption;
        if (item.Format.empty()) item.Format = defaults.Format;
        near(item.TareValue, again.Items[i].TareValue);
    }
    FUZZ_CHECK(first == again, "the saved workspace loads back otherwise (title \"%s\" / \"%s\")",
               first.Title.c_str(), again.Title.c_str());
}

// A workspace other than every default, so a value that fails to load back
// shows as a difference.
const WorkspaceClass Stale{-77, "stale", "", -77, -77, -77, -77, {}, -77, -77.5f};

void CheckWorkspaceRoundTrip(const std::string& file, const RegionalSettings& rs) {
    const std::string input = File("input.lws"), saved = File("saved.lws");
    const std::string again = File("again.lws");
    PutFileBytes(input, file);
    RecordingBoxes boxes;
    WorkspaceClass first;
    LoadWorkspace(first, input, rs, boxes);
    FUZZ_CHECK(first.Channels >= 0 && first.Channels <= MaxChannels &&
                   first.Items.size() == static_cast<size_t>(first.Channels),
               "Channels %d with %zu items", first.Channels, first.Items.size());
    SaveWorkspace(first, saved, rs, boxes);
    WorkspaceClass second = Stale;
    LoadWorkspace(second, saved, rs, boxes);
    bool storable = !Unstorable(first.Title) && !Unstorable(first.Notes, true);
    for (const auto& item : first.Items)
        storable &=
            !Unstorable(item.Caption) && !Unstorable(item.Format) && !Unstorable(item.Command);
    if (storable) CheckSameWorkspace(first, second);

    // Saving what was loaded gives the same bytes again; a hand-edited value
    // that no entry can keep settles within two more saves (a "*NULL*" title
    // loads as empty, which is saved as "Title=" and read back as the
    // default).
    SaveWorkspace(second, again, rs, boxes);
    std::string savedBytes = FileBytes(saved), againBytes = FileBytes(again);
    for (int settle = 0; settle < 2 && savedBytes != againBytes; ++settle) {
        WorkspaceClass next = Stale;
        LoadWorkspace(next, again, rs, boxes);
        SaveWorkspace(next, saved, rs, boxes);
        savedBytes = againBytes;
        againBytes = FileBytes(saved);
        PutFileBytes(again, againBytes);
    }
    FUZZ_CHECK(savedBytes == againBytes,
               "saving the loaded file again gives other bytes:\n%s\n--\n%s", savedBytes.c_str(),
               againBytes.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const RegionalSettings rs =
        (data[0] & 1) ? RegionalSettings::comma() : RegionalSettings::point();
    UsbDriverFault = (data[0] & 2) != 0;
    const size_t entryLength = std::min<size_t>(data[1], size - 2);
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string file(bytes + 2 + entryLength, size - 2 - entryLength);
    CheckEntryWrite(file, std::string(bytes + 2, entryLength));
    CheckWorkspaceRoundTrip(file, rs);
    return 0;
}
