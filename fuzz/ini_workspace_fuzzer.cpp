// Arbitrary bytes as a profile file and as a workspace file. Reading and
// writing entries must keep every other entry as it was and read back what
// was written; a loaded workspace, saved, must load back to the same
// workspace, and saving that again gives the same bytes.
//
// Input: a flags byte (bit 0 comma locale, bit 1 USB driver fault), a length
// byte n, n bytes "section" 0x01 "key" 0x01 "value" for one entry to write,
// and the rest of the input as the file.
#include "Channels.h"
#include "FakeMessageBoxes.h"
#include "FileBytes.h"
#include "FuzzCheck.h"
#include "IniFile.h"
#include "WorkspaceFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Files live on a memory file system when there is one: the target writes
// and renames for every input.
const std::string& Folder() {
    // Outlives every static string: the folder goes at exit.
    static char path[64];
    static const std::string folder = [] {
        std::snprintf(path, sizeof path, "%s/tarnvik-ini-fuzz-XXXXXX",
                      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        FUZZ_CHECK(mkdtemp(path) != nullptr, "cannot create %s", path);
        std::atexit([] { std::filesystem::remove_all(path); });
        return std::string(path);
    }();
    return folder;
}

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// What a written value reads back as: a line break cannot stand in an entry
// and becomes a blank, NUL is dropped; an empty value reads as the default.
std::string StoredForm(const std::string& value, const std::string& defaultValue) {
    std::string stored;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            stored += ' ';
        } else if (c != '\0') {
            stored += c;
        }
    }
    if (stored.empty()) return defaultValue;
    if (stored == "*NULL*") return std::string();
    return stored;
}

std::vector<std::string> ProbeKeys(const std::string& extra) {
    std::vector<std::string> keys = {"Title",       "Notes",    "Port",     "Baudrate",
                                     "Protocol",    "Snap",     "Channels", "LogInterval",
                                     "logDefault",  "Station1", "Caption2", "Format3",
                                     "TareValue24", "Command1", "InitDir",  "InitFile"};
    keys.push_back(extra);
    return keys;
}

void CheckEntryWrite(const std::string& file, const std::string& entry) {
    const size_t a = entry.find('\x01');
    const size_t b = a == std::string::npos ? a : entry.find('\x01', a + 1);
    if (b == std::string::npos) return;
    const std::string section = entry.substr(0, a);
    const std::string key = entry.substr(a + 1, b - a - 1);
    const std::string value = entry.substr(b + 1);
    const std::string path = Folder() + "/entry.ini";
    PutFileBytes(path, file);

    const std::vector<std::string> sections = {section, "Workspace", "LogFiles"};
    const std::vector<std::string> keys = ProbeKeys(key + "x");
    std::vector<std::string> before;
    for (const auto& s : sections)
        for (const auto& k : keys)
            before.push_back(IniRead(file, s, k, "\x02"));
    // The pure layer and the file layer agree.
    FUZZ_CHECK(IniRead(file, section, key, "\x02") == ReadIniValue(path, section, key, "\x02"),
               "the file layer reads another value than the text layer");

    const bool written = WriteIniValue(path, section, key, value);
    const auto pure = IniWrite(file, section, key, value);
    FUZZ_CHECK(written == pure.has_value(), "file write %d, text write %d", written,
               pure.has_value());
    if (!written) {
        FUZZ_CHECK(FileBytes(path) == file, "a refused write changed the file");
        return;
    }
    FUZZ_CHECK(FileBytes(path) == *pure, "the file write and the text write differ");

    const std::string back = ReadIniValue(path, section, key, "\x02");
    const std::string expected = StoredForm(value, "\x02");
    FUZZ_CHECK(back == expected, "wrote [%s] %s=\"%s\", read back \"%s\"", section.c_str(),
               key.c_str(), value.c_str(), back.c_str());

    size_t n = 0;
    for (const auto& s : sections)
        for (const auto& k : keys) {
            const std::string now = IniRead(*pure, s, k, "\x02");
            if (!(SameName(s, section) && SameName(k, key)))
                FUZZ_CHECK(now == before[n],
                           "writing [%s] %s changed [%s] %s from \"%s\" to \"%s\"", section.c_str(),
                           key.c_str(), s.c_str(), k.c_str(), before[n].c_str(), now.c_str());
            ++n;
        }
}

// Text that only a hand-edited file can hold and that no entry can keep: a
// line break or NUL inside a value, or a value that reads as the empty mark.
bool HoldsUnstorableText(const std::string& text) {
    std::string kept;
    for (char c : text)
        if (c != '\0' && c != '\r' && c != '\n') kept += c;
    return kept.size() != text.size() || kept == "*NULL*";
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

bool AnyUnstorable(const WorkspaceClass& ws) {
    if (HoldsUnstorableText(ws.Title)) return true;
    // Notes keep their CR LF line breaks as "|"; any other break cannot stay.
    std::string notes = ws.Notes;
    for (size_t p; (p = notes.find("\r\n")) != std::string::npos;)
        notes.replace(p, 2, "|");
    if (HoldsUnstorableText(notes)) return true;
    for (const auto& item : ws.Items)
        if (HoldsUnstorableText(item.Caption) || HoldsUnstorableText(item.Format) ||
            HoldsUnstorableText(item.Command))
            return true;
    return false;
}

// A workspace other than every default, so a value that fails to load back
// shows as a difference.
const WorkspaceClass Stale{-77, "stale", "", -77, -77, -77, -77, {}, -77, -77.5f};

void CheckWorkspaceRoundTrip(const std::string& file, const RegionalSettings& rs) {
    const std::string input = Folder() + "/input.lws";
    const std::string saved = Folder() + "/saved.lws";
    const std::string again = Folder() + "/again.lws";
    PutFileBytes(input, file);

    RecordingBoxes boxes;
    WorkspaceClass first;
    LoadWorkspace(first, input, rs, boxes);
    FUZZ_CHECK(first.Channels >= 0 && first.Channels <= MaxChannels &&
                   first.Items.size() == static_cast<size_t>(first.Channels),
               "Channels %d with %zu items", first.Channels, first.Items.size());
    SaveWorkspace(first, saved, rs, boxes);
    for (const ShownBox& box : boxes.shown)
        FUZZ_CHECK(box.title == "USB Driver Issue", "unexpected message %s: %s", box.title.c_str(),
                   box.text.c_str());

    WorkspaceClass second = Stale;
    LoadWorkspace(second, saved, rs, boxes);
    const bool storable = !AnyUnstorable(first);
    if (storable) CheckSameWorkspace(first, second);

    // Saving what was loaded gives the same bytes again; a hand-edited value
    // that no entry can keep settles within two more saves (a "*NULL*" title
    // loads as empty, which is saved as "Title=" and read back as the
    // default).
    SaveWorkspace(second, again, rs, boxes);
    std::string savedBytes = FileBytes(saved);
    std::string againBytes = FileBytes(again);
    for (int settle = 0; settle < 2 && savedBytes != againBytes; ++settle) {
        WorkspaceClass next = Stale;
        LoadWorkspace(next, again, rs, boxes);
        SaveWorkspace(next, saved, rs, boxes);
        std::swap(savedBytes, againBytes);
        againBytes = FileBytes(saved);
        PutFileBytes(again, againBytes);
    }
    FUZZ_CHECK(savedBytes == againBytes,
               "saving the loaded file again gives other bytes:\n%s\n--\n%s", savedBytes.c_str(),
               againBytes.c_str());
    FUZZ_CHECK(savedBytes.rfind("[Workspace]\r\nTitle=", 0) == 0, "saved file starts \"%.40s\"",
               savedBytes.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const RegionalSettings rs =
        (data[0] & 1) ? RegionalSettings::comma() : RegionalSettings::point();
    UsbDriverFault = (data[0] & 2) != 0;
    const size_t entryLength = std::min<size_t>(data[1], size - 2);
    const std::string entry(reinterpret_cast<const char*>(data + 2), entryLength);
    const std::string file(reinterpret_cast<const char*>(data + 2 + entryLength),
                           size - 2 - entryLength);

    CheckEntryWrite(file, entry);
    CheckWorkspaceRoundTrip(file, rs);
    return 0;
}
