// Arbitrary bytes as a workspace file. A loaded workspace, saved, must load
// back to the same workspace: saving that again gives the same bytes.
//
// Input: a flags byte (bit 0 comma locale, bit 1 USB driver fault), a length
// byte n, n bytes that are passed over (older seeds held an entry there), and
// the rest of the input as the file.
#include "FuzzCheck.h"
#include "base/Channels.h"
#include "support/FakeMessageBoxes.h"
#include "support/FileBytes.h"
#include "workspace/WorkspaceFile.h"

#include <algorithm>
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

// Text that only a hand-edited file can hold and that no entry can keep: a
// line break or NUL inside a value, or a value that reads as the empty mark.
// Notes keep their CR LF line breaks as "|"; only they may be empty.
bool Unstorable(std::string text, bool notes = false) {
    if (text.empty()) return !notes;
    for (size_t p; notes && (p = text.find("\r\n")) != std::string::npos;)
        text.replace(p, 2, "|");
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || text == "*NULL*";
}

// A workspace other than every default, so a value that fails to load back
// shows in the bytes saved next.
const WorkspaceClass Stale{-77, "stale", "", -77, -77, -77, -77, {}, -77, -77.5f};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const RegionalSettings rs =
        (data[0] & 1) ? RegionalSettings::comma() : RegionalSettings::point();
    UsbDriverFault = (data[0] & 2) != 0;
    const size_t entryLength = std::min<size_t>(data[1], size - 2);
    const std::string input = File("input.lws"), saved = File("saved.lws"),
                      again = File("again.lws");
    PutFileBytes(input, std::string(reinterpret_cast<const char*>(data) + 2 + entryLength,
                                    size - 2 - entryLength));
    RecordingBoxes boxes;
    WorkspaceClass first, second = Stale;
    LoadWorkspace(first, input, rs, boxes);
    FUZZ_CHECK(first.Channels >= 0 && first.Channels <= MaxChannels &&
                   first.Items.size() == static_cast<size_t>(first.Channels),
               "Channels %d with %zu items", first.Channels, first.Items.size());
    SaveWorkspace(first, saved, rs, boxes);
    LoadWorkspace(second, saved, rs, boxes);
    // Saving what was loaded gives the same bytes again, unless a hand-edited
    // value holds what no entry can keep, or a text that must not be empty
    // was loaded empty (from "*NULL*"): saved empty, it reads back as its
    // default.
    bool storable = !Unstorable(first.Title) && !Unstorable(first.Notes, true);
    for (const auto& item : first.Items)
        storable &= !Unstorable(item.Caption) && !Unstorable(item.Format) &&
                    (item.Command.empty() || !Unstorable(item.Command));
    SaveWorkspace(second, again, rs, boxes);
    FUZZ_CHECK(!storable || FileBytes(saved) == FileBytes(again),
               "saving the loaded file again gives other bytes:\n%s\n--\n%s",
               FileBytes(saved).c_str(), FileBytes(again).c_str());
    return 0;
}
