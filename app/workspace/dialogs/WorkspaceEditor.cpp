#include "workspace/dialogs/WorkspaceEditor.h"

#include "workspace/TextCoding.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kBackspace = 8, kCopy = 3, kPaste = 22;
constexpr int kPortCount = 99, kChannelCount = 24;
constexpr int kStationLimit = 3, kSerialLimit = 10;

// List columns: Channel, Description, Station, Format, Tare, Command.
constexpr int kColCaption = 1, kColStation = 2, kColFormat = 3, kColTare = 4, kColCommand = 5;

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Numbered(int count) {
    std::vector<std::string> entries;
    for (int i = 1; i <= count; ++i)
        entries.push_back(IntegerText(i));
    return entries;
}

// The number as the workspace stores a real: single precision, finite.
bool FitsFloat(double value) {
    return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
}

} // namespace

int ValidateKey(const std::string& text, int caret, int keyCode, bool allowNegative,
                const std::string& allowed) {
    if (keyCode == kBackspace || keyCode == kCopy || keyCode == kPaste) return keyCode;
    if (keyCode <= 0 || keyCode > 255) return 0;
    const char key = static_cast<char>(keyCode);
    if (!allowed.empty()) return allowed.find(key) != std::string::npos ? keyCode : 0;
    static const std::string defaultSet = "1234567890-.,";
    if (defaultSet.find(key) == std::string::npos) return 0;
    if (key == '.' && text.find('.') != std::string::npos) return 0;
    if (key == ',' && text.find(',') != std::string::npos) return 0;
    if (key == '-' && !(allowNegative && caret == 0)) return 0;
    return keyCode;
}

double ScanNumber(const std::string& text) {
    std::string packed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') packed += c;
    size_t i = 0;
    std::string number;
    if (i < packed.size() && (packed[i] == '+' || packed[i] == '-')) number += packed[i++];
    bool digits = false, point = false;
    for (; i < packed.size(); ++i) {
        const char c = packed[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            number += c;
            digits = true;
        } else if (c == '.' && !point) {
            number += c;
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return 0;
    // The exponent counts only when digits follow it.
    if (i < packed.size() && (packed[i] == 'e' || packed[i] == 'E')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < packed.size() && (packed[j] == '+' || packed[j] == '-')) exponent += packed[j++];
        const size_t firstDigit = j;
        while (j < packed.size() && std::isdigit(static_cast<unsigned char>(packed[j])))
            exponent += packed[j++];
        if (j > firstDigit) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

WorkspaceEditor::WorkspaceEditor(WorkspaceClass& workspace, WorkspaceEditorForm& form,
                                 const RegionalSettings& regional)
    : m_ws(workspace), m_form(form), m_regional(regional) {}

const std::vector<std::string>& WorkspaceEditor::ProtocolNames() {
    static const std::vector<std::string> names = {"Vexa VeldaBus", "Vexa ASCII", "Vexa USB"};
    return names;
}

const std::vector<std::string>& WorkspaceEditor::Baudrates() {
    static const std::vector<std::string> rates = {"9600",   "19200",  "38400", "76800",
                                                   "115200", "230400", "460800"};
    return rates;
}

const char* WorkspaceEditor::FieldToolTip(EditorField field) {
    switch (field) {
    case EditorField::Title:
        return "Enter a title for this workspace";
    case EditorField::LogInterval:
        return "Interval between logging all channels";
    case EditorField::Station:
        return "Set instrument station number for this channel";
    case EditorField::Caption:
        return "Select caption for this channel";
    case EditorField::Command:
        return "Override default command for this channel";
    case EditorField::Format:
        return "Specify display format for this channel";
    case EditorField::TareValue:
        return "The current tare value for this channel";
    case EditorField::Notes:
        return "Record notes about this workspace";
    case EditorField::LogDefault:
        return "Enter a value to log if a channel does not deliver data. Set to zero to keep "
               "logging the last received value.";
    }
    return "";
}

void WorkspaceEditor::Open(bool fixedInstall) {
    m_form.SetListEntries(EditorList::Protocol, ProtocolNames());
    m_form.SetListEntries(EditorList::Baudrate, Baudrates());
    m_form.SetListEntries(EditorList::Snap, {"No", "Yes"});
    m_form.SetListEntries(EditorList::Port, Numbered(kPortCount));
    m_form.SetListEntries(EditorList::Channels, Numbered(kChannelCount));
    m_form.SetFieldMaxLength(EditorField::LogInterval, 5);
    m_form.SetFieldMaxLength(EditorField::Station, kStationLimit);
    if (fixedInstall) LockFixedInstall();
    WorkspaceToForm();
    if (m_form.RowCount() >= 1) {
        m_form.SelectRow(0);
        RowSelected(0);
    }
}

void WorkspaceEditor::LockFixedInstall() {
    m_fixed = true;
    m_form.SetFieldEnabled(EditorField::Title, false);
    m_form.SetListEnabled(EditorList::Protocol, false);
    m_form.SetListEnabled(EditorList::Channels, false);
    m_form.SetListEnabled(EditorList::Snap, false);
    m_form.SetFieldEnabled(EditorField::Command, false);
}

void WorkspaceEditor::selectAndHandle(EditorList list, int index) {
    // An index outside the list (a port or channel count the editor does not
    // offer) selects nothing, and closing then keeps the workspace's value.
    if (index < 0 || index >= m_form.ListCount(list)) {
        m_form.SelectListEntry(list, -1);
        return;
    }
    m_form.SelectListEntry(list, index);
    ListSelected(list);
}

void WorkspaceEditor::WorkspaceToForm() {
    selectAndHandle(EditorList::Port, m_ws.Port - 1);
    showText(EditorField::Title, m_ws.Title);
    FindItem(EditorList::Baudrate, IntegerText(m_ws.Baudrate));
    selectAndHandle(EditorList::Channels, m_ws.Channels - 1);
    selectAndHandle(EditorList::Snap, m_ws.Snap == 1 ? 1 : 0);
    m_form.SetFieldText(EditorField::LogInterval, IntegerText(m_ws.LogInterval));
    showText(EditorField::Notes, m_ws.Notes);
    selectAndHandle(EditorList::Protocol, m_ws.Protocol);
    m_form.SetFieldText(EditorField::LogDefault, GeneralNumber(m_ws.LogDefault, m_regional));
    WorkSpaceToList();
}

void WorkspaceEditor::WorkSpaceToList() {
    m_form.ClearRows();
    const int count = std::min<int>(m_ws.Channels, static_cast<int>(m_ws.Items.size()));
    for (int i = count; i >= 1; --i) {
        const ItemClass& item = m_ws.Items[i - 1];
        m_form.InsertRowAtTop({IntegerText(i), LegibleText(item.Caption), IntegerText(item.Station),
                               LegibleText(item.Format), GeneralNumber(item.TareValue, m_regional),
                               LegibleText(item.Command)});
    }
}

void WorkspaceEditor::FindItem(EditorList target, const std::string& text) {
    const int count = m_form.ListCount(target);
    const std::string wanted = Lower(text);
    for (int i = 0; i < count; ++i) {
        if (Lower(m_form.ListText(target, i)) == wanted) {
            selectAndHandle(target, i);
            return;
        }
    }
    if (count > 0) selectAndHandle(target, 0);
}

void WorkspaceEditor::RowSelected(int row) {
    if (row < 0 || row >= m_form.RowCount()) return;
    m_updating = true;
    m_form.SetFieldText(EditorField::Caption, m_form.Cell(row, kColCaption));
    m_form.SetFieldText(EditorField::Station, m_form.Cell(row, kColStation));
    m_form.SetFieldText(EditorField::Format, m_form.Cell(row, kColFormat));
    m_form.SetFieldText(EditorField::TareValue, m_form.Cell(row, kColTare));
    m_form.SetFieldText(EditorField::Command, m_form.Cell(row, kColCommand));
    if (row < static_cast<int>(m_ws.Items.size())) {
        const ItemClass& item = m_ws.Items[row];
        remember(EditorField::Caption, item.Caption);
        remember(EditorField::Format, item.Format);
        remember(EditorField::Command, item.Command);
    }
    m_updating = false;
    m_current = row + 1;
}

void WorkspaceEditor::ListSelected(EditorList list) {
    if (list == EditorList::Channels) channelCountSelected();
    if (list == EditorList::Protocol) protocolSelected();
}

void WorkspaceEditor::channelCountSelected() {
    const int index = m_form.ListIndex(EditorList::Channels);
    if (index < 0) return;
    const int n = index + 1;
    if (n == m_ws.Channels) return;
    // The items follow the count exactly, whatever the file held before.
    while (static_cast<int>(m_ws.Items.size()) < n)
        m_ws.Items.push_back(DefaultChannelItem(static_cast<int>(m_ws.Items.size()) + 1));
    if (static_cast<int>(m_ws.Items.size()) > n) m_ws.Items.resize(n);
    m_ws.Channels = static_cast<int16_t>(n);
    WorkSpaceToList();
}

void WorkspaceEditor::protocolSelected() {
    const int p = m_form.ListIndex(EditorList::Protocol);
    const bool usb = p == ProtocolUSB;
    m_form.SetListEnabled(EditorList::Port, !usb);
    m_form.SetListEnabled(EditorList::Baudrate, !usb);
    // The fixed installation's lock outlasts the protocol procedure.
    m_form.SetListEnabled(EditorList::Snap, !usb && !m_fixed);
    if (usb) m_form.SelectListEntry(EditorList::Snap, 0);
    if (p == ProtocolVeldaBus || p == ProtocolASCII) {
        m_form.SetFieldMaxLength(EditorField::Station, kStationLimit);
        m_form.SetStationCaption("Station", "Set instrument station number for this channel");
    } else if (usb) {
        m_form.SetFieldMaxLength(EditorField::Station, kSerialLimit);
        m_form.SetStationCaption("Serial Number", "Set instrument serial number for this channel");
    }
}

void WorkspaceEditor::showText(EditorField field, const std::string& bytes) {
    m_form.SetFieldText(field, LegibleText(bytes));
    remember(field, bytes);
}

void WorkspaceEditor::remember(EditorField field, const std::string& bytes) {
    // What the form hands back for untouched text, after its own conversions.
    m_given[field] = {bytes, m_form.FieldText(field)};
}

std::string WorkspaceEditor::keptText(EditorField field, const std::string& text) const {
    const auto it = m_given.find(field);
    return it != m_given.end() && it->second.shown == text ? it->second.bytes : text;
}

void WorkspaceEditor::FieldChanged(EditorField field) {
    if (m_updating) return;
    // No row chosen yet, or the row was cut away by a smaller channel count:
    // there is no item to write to.
    if (m_current < 1 || m_current > m_ws.Channels ||
        m_current > static_cast<int>(m_ws.Items.size()) || m_current > m_form.RowCount())
        return;
    ItemClass& item = m_ws.Items[m_current - 1];
    const int row = m_current - 1;
    const std::string text = m_form.FieldText(field);
    switch (field) {
    case EditorField::Caption:
        item.Caption = keptText(field, text);
        m_form.SetCell(row, kColCaption, text);
        break;
    case EditorField::Station: {
        const double rounded = std::nearbyint(ScanNumber(text));
        // A number beyond 32 bits cannot be an address: the item keeps its own.
        if (rounded >= std::numeric_limits<int32_t>::min() &&
            rounded <= std::numeric_limits<int32_t>::max())
            item.Station = static_cast<int32_t>(rounded);
        m_form.SetCell(row, kColStation, IntegerText(item.Station));
        break;
    }
    case EditorField::Format:
        item.Format = keptText(field, text);
        m_form.SetCell(row, kColFormat, text);
        break;
    case EditorField::TareValue: {
        const double value = ScanNumber(text);
        if (FitsFloat(value)) item.TareValue = static_cast<float>(value);
        m_form.SetCell(row, kColTare, GeneralNumber(item.TareValue, m_regional));
        break;
    }
    case EditorField::Command:
        item.Command = keptText(field, text);
        m_form.SetCell(row, kColCommand, text);
        break;
    default:
        break;
    }
}

int WorkspaceEditor::KeyTyped(EditorField field, int keyCode, int caret) const {
    const std::string text = m_form.FieldText(field);
    switch (field) {
    case EditorField::LogInterval:
        return ValidateKey(text, caret, keyCode, false);
    case EditorField::LogDefault:
    case EditorField::TareValue:
        return ValidateKey(text, caret, keyCode, true);
    case EditorField::Station:
        return ValidateKey(text, caret, keyCode, false, "0987654321");
    case EditorField::Format:
        return ValidateKey(text, caret, keyCode, false, "0.");
    default:
        return keyCode;
    }
}

void WorkspaceEditor::FormToWorkspace() {
    const int port = m_form.ListIndex(EditorList::Port);
    if (port >= 0) m_ws.Port = static_cast<int16_t>(port + 1);
    m_ws.Title = keptText(EditorField::Title, m_form.FieldText(EditorField::Title));
    const int rate = m_form.ListIndex(EditorList::Baudrate);
    if (rate >= 0) m_ws.Baudrate = std::atoi(m_form.ListText(EditorList::Baudrate, rate).c_str());
    const int channels = m_form.ListIndex(EditorList::Channels);
    if (channels >= 0) m_ws.Channels = static_cast<int16_t>(channels + 1);
    const int snap = m_form.ListIndex(EditorList::Snap);
    if (snap >= 0) m_ws.Snap = static_cast<int16_t>(snap);
    // An empty or unreadable interval keeps the whole milliseconds it had.
    if (auto interval = ParseRoundedInteger(m_form.FieldText(EditorField::LogInterval), m_regional,
                                            std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max()))
        m_ws.LogInterval = static_cast<int32_t>(*interval);
    m_ws.Notes = keptText(EditorField::Notes, m_form.FieldText(EditorField::Notes));
    const int protocol = m_form.ListIndex(EditorList::Protocol);
    if (protocol >= 0) m_ws.Protocol = static_cast<int16_t>(protocol);
    const double logDefault = ScanNumber(m_form.FieldText(EditorField::LogDefault));
    if (FitsFloat(logDefault)) m_ws.LogDefault = static_cast<float>(logDefault);
}

void WorkspaceEditor::Close() {
    if (m_closed) return;
    m_closed = true;
    FormToWorkspace();
}
