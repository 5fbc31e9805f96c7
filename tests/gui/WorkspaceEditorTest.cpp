// The editor's procedures against a fake form, and its key filter and
// number scan on their own.
#include "workspace/dialogs/WorkspaceEditor.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Controls as plain values; counts every field write made while updating.
class FakeForm : public WorkspaceEditorForm {
  public:
    struct List {
        std::vector<std::string> entries;
        int index = -1;
        bool enabled = true;
    };
    void SetListEntries(EditorList l, const std::vector<std::string>& e) override {
        lists[l].entries = e;
        lists[l].index = -1;
    }
    int ListCount(EditorList l) const override {
        return static_cast<int>(lists.at(l).entries.size());
    }
    std::string ListText(EditorList l, int i) const override { return lists.at(l).entries.at(i); }
    int ListIndex(EditorList l) const override { return lists.at(l).index; }
    void SelectListEntry(EditorList l, int i) override { lists[l].index = i; }
    void SetListEnabled(EditorList l, bool e) override { lists[l].enabled = e; }
    std::string FieldText(EditorField f) const override {
        auto it = texts.find(f);
        return it == texts.end() ? std::string() : it->second;
    }
    void SetFieldText(EditorField f, const std::string& t) override {
        texts[f] = t;
        if (editor) editor->FieldChanged(f); // a text box reports every change
    }
    void SetFieldEnabled(EditorField f, bool e) override { enabledFields[f] = e; }
    void SetFieldMaxLength(EditorField f, int n) override { limits[f] = n; }
    void SetStationCaption(const std::string& l, const std::string& t) override {
        stationLabel = l;
        stationTip = t;
    }
    void ClearRows() override { rows.clear(); }
    void InsertRowAtTop(const std::vector<std::string>& c) override {
        rows.insert(rows.begin(), c);
    }
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string Cell(int r, int c) const override { return rows.at(r).at(c); }
    void SetCell(int r, int c, const std::string& t) override { rows.at(r).at(c) = t; }
    void SelectRow(int r) override { selectedRow = r; }

    // The operator types text into a field.
    void Type(EditorField f, const std::string& t) {
        texts[f] = t;
        editor->FieldChanged(f);
    }
    void Pick(EditorList l, int i) {
        lists[l].index = i;
        editor->ListSelected(l);
    }

    std::map<EditorList, List> lists;
    std::map<EditorField, std::string> texts;
    std::map<EditorField, bool> enabledFields;
    std::map<EditorField, int> limits;
    std::vector<std::vector<std::string>> rows;
    std::string stationLabel, stationTip;
    int selectedRow = -1;
    WorkspaceEditor* editor = nullptr;
};

WorkspaceClass FourChannels() {
    WorkspaceClass ws;
    ws.Channels = 4;
    ws.Title = "Rig 1";
    ws.Port = 3;
    ws.Baudrate = 115200;
    ws.LogInterval = 1000;
    for (int i = 1; i <= 4; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

struct EditorFixture : ::testing::Test {
    void open(bool fixed = false) {
        editor = std::make_unique<WorkspaceEditor>(ws, form, RegionalSettings::point());
        form.editor = editor.get();
        editor->Open(fixed);
    }
    WorkspaceClass ws = FourChannels();
    FakeForm form;
    std::unique_ptr<WorkspaceEditor> editor;
};

} // namespace

TEST(ValidateKeyTest, NumberSetRules) {
    // Backspace, copy and paste always pass, in every filter.
    for (int code : {8, 3, 22}) {
        EXPECT_EQ(ValidateKey("1.5", 3, code, false), code);
        EXPECT_EQ(ValidateKey("00", 0, code, false, "0."), code);
    }
    // Cut, undo and every other control character are refused.
    for (int code : {24, 26, 1, 13, 127})
        EXPECT_EQ(ValidateKey("", 0, code, true), 0) << code;
    EXPECT_EQ(ValidateKey("12", 2, '7', false), '7');
    EXPECT_EQ(ValidateKey("12", 2, 'a', true), 0);
    EXPECT_EQ(ValidateKey("1.2", 3, '.', true), 0);
    EXPECT_EQ(ValidateKey("12", 2, '.', true), '.');
    EXPECT_EQ(ValidateKey("1,2", 1, ',', true), 0);
    EXPECT_EQ(ValidateKey("1.2", 3, ',', true), ',');
    // "-" only at the start and only where negatives are allowed.
    EXPECT_EQ(ValidateKey("5", 0, '-', true), '-');
    EXPECT_EQ(ValidateKey("5", 1, '-', true), 0);
    EXPECT_EQ(ValidateKey("", 0, '-', false), 0);
    // A selected "." that the key would replace still counts as present.
    EXPECT_EQ(ValidateKey("1.", 1, '.', true), 0);
}

TEST(ValidateKeyTest, AllowedSetRules) {
    EXPECT_EQ(ValidateKey("12", 2, '9', false, "0987654321"), '9');
    EXPECT_EQ(ValidateKey("12", 2, '-', true, "0987654321"), 0);
    EXPECT_EQ(ValidateKey("12", 2, '.', false, "0987654321"), 0);
    // The set is the only rule: a second point passes the format filter.
    EXPECT_EQ(ValidateKey("0.0", 3, '.', false, "0."), '.');
    EXPECT_EQ(ValidateKey("0.0", 3, '1', false, "0."), 0);
    EXPECT_EQ(ValidateKey("", 0, 300, false, "0."), 0);
}

TEST(ScanNumberTest, LocaleIndependentScan) {
    const std::pair<const char*, double> cases[] = {
        {"007", 7},      {"1,5", 1},   {"", 0},        {"abc", 0},    {" 1 2\t3\n", 123},
        {"-2.5x", -2.5}, {"+.5", 0.5}, {"1.2.3", 1.2}, {"1e3", 1000}, {"2E-2", 0.02},
        {"3e", 3},       {"3e+", 3},   {"-", 0},       {".", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(ScanNumber(text), value) << text;
}

TEST_F(EditorFixture, OpeningFillsTheFormAndSelectsRowOne) {
    ws.Items[1].TareValue = 1.5f;
    ws.Items[1].Command = "READ";
    ws.Notes = "a\r\nb";
    ws.LogDefault = -2.5f;
    open();
    EXPECT_EQ(form.lists[EditorList::Port].entries.size(), 99u);
    EXPECT_EQ(form.lists[EditorList::Port].entries.front(), "1");
    EXPECT_EQ(form.lists[EditorList::Channels].entries.back(), "24");
    EXPECT_EQ(form.lists[EditorList::Port].index, 2);
    EXPECT_EQ(form.lists[EditorList::Baudrate].index, 4);
    EXPECT_EQ(form.lists[EditorList::Channels].index, 3);
    EXPECT_EQ(form.texts[EditorField::Title], "Rig 1");
    EXPECT_EQ(form.texts[EditorField::LogInterval], "1000");
    EXPECT_EQ(form.texts[EditorField::Notes], "a\r\nb");
    EXPECT_EQ(form.texts[EditorField::LogDefault], "-2.5");
    ASSERT_EQ(form.rows.size(), 4u);
    EXPECT_EQ(form.rows[1],
              (std::vector<std::string>{"2", "Channel 2", "2", "00.000", "1.5", "READ"}));
    EXPECT_EQ(form.selectedRow, 0);
    EXPECT_EQ(editor->CurrentChannel(), 1);
    EXPECT_EQ(form.texts[EditorField::Caption], "Channel 1");
    EXPECT_EQ(form.limits[EditorField::LogInterval], 5);
    EXPECT_EQ(form.limits[EditorField::Station], 3);
    // Filling the channel fields wrote nothing back.
    EXPECT_EQ(ws.Items[0].Caption, "Channel 1");
}

TEST_F(EditorFixture, RowSelectionWritesNothingWhileUpdating) {
    open();
    ws.Items[2].Caption = "changed behind the list";
    form.rows[1][1] = "List text";
    editor->RowSelected(1);
    EXPECT_EQ(editor->CurrentChannel(), 2);
    EXPECT_EQ(form.texts[EditorField::Caption], "List text");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");
    EXPECT_EQ(ws.Items[2].Caption, "changed behind the list");
    EXPECT_FALSE(editor->Updating());
}

TEST_F(EditorFixture, ChannelEditsLandInItemAndList) {
    open();
    editor->RowSelected(2);
    form.Type(EditorField::Station, "007");
    EXPECT_EQ(ws.Items[2].Station, 7);
    EXPECT_EQ(form.rows[2][2], "7");
    form.Type(EditorField::Station, "2.5");
    EXPECT_EQ(ws.Items[2].Station, 2); // halves to even
    form.Type(EditorField::TareValue, "1,5");
    EXPECT_EQ(ws.Items[2].TareValue, 1.0f);
    EXPECT_EQ(form.rows[2][4], "1");
    form.Type(EditorField::TareValue, "");
    EXPECT_EQ(ws.Items[2].TareValue, 0.0f);
    form.Type(EditorField::Caption, "Load cell");
    form.Type(EditorField::Format, "0.0");
    form.Type(EditorField::Command, "12");
    EXPECT_EQ(ws.Items[2].Caption, "Load cell");
    EXPECT_EQ(ws.Items[2].Format, "0.0");
    EXPECT_EQ(ws.Items[2].Command, "12");
    EXPECT_EQ(form.rows[2][1], "Load cell");
    EXPECT_EQ(form.rows[2][5], "12");
    EXPECT_EQ(ws.Items[0].Caption, "Channel 1");
}

TEST_F(EditorFixture, NumbersBeyondTheFieldsRangeKeepTheItemsValue) {
    ws.Protocol = ProtocolUSB;
    open();
    form.Type(EditorField::Station, "2147483647");
    EXPECT_EQ(ws.Items[0].Station, 2147483647);
    form.Type(EditorField::Station, "9999999999");
    EXPECT_EQ(ws.Items[0].Station, 2147483647);
    EXPECT_EQ(form.rows[0][2], "2147483647");
    form.Type(EditorField::TareValue, "1e39");
    EXPECT_EQ(ws.Items[0].TareValue, 0.0f);
    form.texts[EditorField::LogDefault] = "1e400";
    ws.LogDefault = 3;
    editor->Close();
    EXPECT_EQ(ws.LogDefault, 3.0f);
}

TEST_F(EditorFixture, ChannelCountGrowsAndShrinksAtTheEnd) {
    open();
    editor->RowSelected(3);
    form.Pick(EditorList::Channels, 5);
    ASSERT_EQ(ws.Items.size(), 6u);
    EXPECT_EQ(ws.Channels, 6);
    EXPECT_EQ(ws.Items[4].Caption, "Channel 5");
    EXPECT_EQ(ws.Items[5].Station, 6);
    EXPECT_EQ(form.rows.size(), 6u);
    EXPECT_EQ(form.rows[5][0], "6");
    EXPECT_EQ(editor->CurrentChannel(), 4);

    form.Pick(EditorList::Channels, 1);
    ASSERT_EQ(ws.Items.size(), 2u);
    EXPECT_EQ(ws.Channels, 2);
    EXPECT_EQ(form.rows.size(), 2u);
    // The shown channel 4 is gone: typing into its fields writes nowhere.
    form.Type(EditorField::Caption, "ghost");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");
    EXPECT_EQ(form.rows[1][1], "Channel 2");
}

TEST_F(EditorFixture, UsbDisablesTheSerialListsAndSwitchingBackRestoresThem) {
    ws.Protocol = ProtocolUSB;
    ws.Snap = 1;
    open();
    EXPECT_FALSE(form.lists[EditorList::Port].enabled);
    EXPECT_FALSE(form.lists[EditorList::Baudrate].enabled);
    EXPECT_FALSE(form.lists[EditorList::Snap].enabled);
    EXPECT_EQ(form.lists[EditorList::Snap].index, 0);
    EXPECT_EQ(form.limits[EditorField::Station], 10);
    EXPECT_EQ(form.stationLabel, "Serial Number");
    EXPECT_EQ(form.stationTip, "Set instrument serial number for this channel");
    form.Pick(EditorList::Protocol, ProtocolASCII);
    EXPECT_TRUE(form.lists[EditorList::Port].enabled);
    EXPECT_TRUE(form.lists[EditorList::Snap].enabled);
    EXPECT_EQ(form.limits[EditorField::Station], 3);
    EXPECT_EQ(form.stationLabel, "Station");
    EXPECT_EQ(form.stationTip, "Set instrument station number for this channel");
    form.Pick(EditorList::Protocol, ProtocolUSB);
    editor->Close();
    EXPECT_EQ(ws.Snap, 0);
    EXPECT_EQ(ws.Port, 3); // kept, not usable under USB
}

TEST_F(EditorFixture, FindItemIgnoresCaseAndFallsBackToTheFirst) {
    ws.Baudrate = 57600;
    open();
    EXPECT_EQ(form.lists[EditorList::Baudrate].index, 0);
    editor->FindItem(EditorList::Protocol, "VEXA ascii");
    EXPECT_EQ(form.lists[EditorList::Protocol].index, 1);
    editor->Close();
    EXPECT_EQ(ws.Baudrate, 9600);
}

TEST_F(EditorFixture, ClosingCopiesTheWorkspaceFieldsOnce) {
    open();
    form.texts[EditorField::Title] = "Line 2";
    form.lists[EditorList::Port].index = 6;
    form.lists[EditorList::Snap].index = 1;
    form.texts[EditorField::LogInterval] = "250";
    form.texts[EditorField::Notes] = "x\r\ny";
    form.texts[EditorField::LogDefault] = " -1.25";
    editor->Close();
    EXPECT_EQ(ws.Title, "Line 2");
    EXPECT_EQ(ws.Port, 7);
    EXPECT_EQ(ws.Snap, 1);
    EXPECT_EQ(ws.LogInterval, 250);
    EXPECT_EQ(ws.Notes, "x\r\ny");
    EXPECT_EQ(ws.LogDefault, -1.25f);
    // A second close (close box after OK) changes nothing more.
    form.texts[EditorField::Title] = "later";
    editor->Close();
    EXPECT_EQ(ws.Title, "Line 2");
}

TEST_F(EditorFixture, UnreadableLogIntervalKeepsTheOldOne) {
    open();
    form.texts[EditorField::LogInterval] = "";
    editor->Close();
    EXPECT_EQ(ws.LogInterval, 1000);
}

TEST_F(EditorFixture, ValuesTheListsDoNotOfferSelectNothingAndStay) {
    ws.Port = 150;
    ws.Channels = 30;
    ws.Items.clear();
    for (int i = 1; i <= 30; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    open();
    EXPECT_EQ(form.lists[EditorList::Port].index, -1);
    EXPECT_EQ(form.lists[EditorList::Channels].index, -1);
    EXPECT_EQ(ws.Items.size(), 30u);
    editor->Close();
    EXPECT_EQ(ws.Port, 150);
    EXPECT_EQ(ws.Channels, 30);
}

TEST_F(EditorFixture, EmptyWorkspaceHasNoRowToWrite) {
    ws.Channels = 0;
    ws.Items.clear();
    open();
    EXPECT_EQ(editor->CurrentChannel(), 0);
    form.Type(EditorField::Caption, "nothing");
    EXPECT_TRUE(ws.Items.empty());
}
