#include "workspace/WorkspaceFile.h"

#include "base/Channels.h"
#include "workspace/IniFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr const char* Section = "Workspace";
constexpr const char* CrLf = "\r\n";

std::string FoldNotes(const std::string& notes) {
    std::string folded;
    folded.reserve(notes.size());
    // A CR LF, a lone CR and a lone LF are each one line break: dropping a
    // lone LF would run two lines of the operator's notes together.
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const char c = notes[i];
        if (c == '\r' && i + 1 < notes.size() && notes[i + 1] == '\n') ++i;
        folded += (c == '\r' || c == '\n') ? '|' : c;
    }
    return folded;
}

std::string UnfoldNotes(const std::string& folded) {
    std::string notes;
    notes.reserve(folded.size());
    for (char c : folded) {
        if (c == '|')
            notes += CrLf;
        else
            notes += c;
    }
    return notes;
}

void ShowFileWarning(MessageBoxes& boxes, const std::string& what, const std::string& path,
                     int error) {
    boxes.show("An error occurred while trying to " + what + path + CrLf +
                   "Error: " + std::strerror(error),
               "Warning", MessageIcon::Exclamation, MessageButtons::Ok);
}

// A value that does not convert leaves the field as it was.
template <typename Integer>
void Convert(const std::string& text, const RegionalSettings& rs, Integer& field) {
    const std::optional<int64_t> value = ParseRoundedInteger(
        text, rs, std::numeric_limits<Integer>::min(), std::numeric_limits<Integer>::max());
    if (value) field = static_cast<Integer>(*value);
}

void Convert(const std::string& text, const RegionalSettings& rs, float& field) {
    if (const std::optional<float> value = ParseSingle(text, rs)) field = *value;
}

} // namespace

void SaveWorkspace(const WorkspaceClass& ws, const std::string& path, const RegionalSettings& rs,
                   MessageBoxes& boxes) {
    std::string text;
    auto put = [&text](const std::string& key, const std::string& value) {
        // Past the size limit the store fails anyway: stop copying the text.
        if (text.size() > MaxIniFileBytes) return;
        // Every key here is a valid name, so the write cannot be refused.
        text = IniWrite(text, Section, key, value).value_or(text);
    };
    put("Title", ws.Title);
    put("Notes", FoldNotes(ws.Notes));
    put("Port", IntegerText(ws.Port));
    put("Baudrate", IntegerText(ws.Baudrate));
    put("Protocol", IntegerText(ws.Protocol));
    put("Snap", IntegerText(ws.Snap));
    put("Channels", IntegerText(ws.Channels));
    put("logInterval", IntegerText(ws.LogInterval));
    put("logDefault", GeneralNumber(ws.LogDefault, rs));
    // A count beyond the items held would index past them; the reader gives
    // the missing channels their defaults all the same.
    const int written = std::min<int>(ws.Channels, static_cast<int>(ws.Items.size()));
    for (int i = 1; i <= written; ++i) {
        const ItemClass& item = ws.Items[i - 1];
        const std::string n = IntegerText(i);
        put("Station" + n, IntegerText(item.Station));
        put("Caption" + n, item.Caption);
        put("Format" + n, item.Format);
        put("TareValue" + n, GeneralNumber(item.TareValue, rs));
        put("Command" + n, item.Command);
    }
    if (const int error = StoreIniText(path, text); error != 0)
        ShowFileWarning(boxes, "save workspace to ", path, error);
}

void LoadWorkspace(WorkspaceClass& ws, const std::string& path, const RegionalSettings& rs,
                   MessageBoxes& boxes) {
    // One snapshot of the file: every entry comes from the same version of it.
    std::string text;
    if (!path.empty()) {
        if (const int error = LoadIniText(path, text); error != 0) {
            ShowFileWarning(boxes, "load workspace from ", path, error);
            return;
        }
    }
    const std::vector<std::string> head = IniReadEach(text, Section,
                                                      {{"Title", "Title Text"},
                                                       {"Notes", ""},
                                                       {"Port", "1"},
                                                       {"Baudrate", "115200"},
                                                       {"Protocol", "0"},
                                                       {"LogInterval", "1000"},
                                                       {"LogDefault", "0"},
                                                       {"Snap", "0"},
                                                       {"Channels", "4"}});
    ws.Title = head[0];
    ws.Notes = UnfoldNotes(head[1]);
    Convert(head[2], rs, ws.Port);
    Convert(head[3], rs, ws.Baudrate);
    Convert(head[4], rs, ws.Protocol);
    Convert(head[5], rs, ws.LogInterval);
    Convert(head[6], rs, ws.LogDefault);
    Convert(head[7], rs, ws.Snap);
    Convert(head[8], rs, ws.Channels);
    // The channel arrays serve channels 1 to MaxChannels; a larger count in a
    // damaged file loads that many, and a negative one loads none.
    ws.Channels = std::clamp<int16_t>(ws.Channels, 0, MaxChannels);

    constexpr std::size_t fieldsPerItem = 5;
    std::vector<IniQuery> queries;
    for (int i = 1; i <= ws.Channels; ++i) {
        const ItemClass defaults = DefaultChannelItem(i);
        const std::string n = IntegerText(i);
        queries.push_back({"Station" + n, IntegerText(defaults.Station)});
        queries.push_back({"Caption" + n, defaults.Caption});
        queries.push_back({"Format" + n, defaults.Format});
        queries.push_back({"TareValue" + n, "0"});
        queries.push_back({"Command" + n, defaults.Command});
    }
    const std::vector<std::string> values = IniReadEach(text, Section, queries);

    ws.Items.clear();
    ws.Items.reserve(static_cast<std::size_t>(ws.Channels));
    for (std::size_t first = 0; first < values.size(); first += fieldsPerItem) {
        ItemClass item; // a field that does not convert stays 0
        Convert(values[first], rs, item.Station);
        item.Caption = values[first + 1];
        item.Format = values[first + 2];
        Convert(values[first + 3], rs, item.TareValue);
        item.Command = values[first + 4];
        ws.Items.push_back(std::move(item));
    }

    if (ws.Protocol == ProtocolUSB && UsbDriverFault)
        boxes.show(std::string("The workspace is configured for VexaUSB but there is a problem "
                               "with the USB driver.") +
                       CrLf +
                       "Try shutting down this software, unplug and plug back in the USB device. "
                       "Then retry this software.",
                   "USB Driver Issue", MessageIcon::Critical, MessageButtons::Ok);
}

bool IsWorkspaceFile(const std::string& path) {
    std::string text;
    return LoadIniText(path, text) == 0 && IniHasSection(text, Section);
}
