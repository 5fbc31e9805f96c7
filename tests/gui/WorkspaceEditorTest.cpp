// The editor's procedures against a fake form, and its key filter and
// number scan on their own.
#include "workspace/dialogs/WorkspaceEditor.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using Row = std::vector<std::string>;
using Texts = std::vector<std::string>;

// Controls as plain values; a text box reports every change, as Qt's does.
// The disabled controls are kept as (is a list, which).
struct FakeForm : WorkspaceEditorForm {
    void SetListEntries(EditorList l, const Texts& e) override {
        lists[l] = e;
        index[l] = -1;
    }
    int ListCount(EditorList l) const override { return int(lists.at(l).size()); }
    std::string ListText(EditorList l, int i) const override { return lists.at(l).at(i); }
    int ListIndex(EditorList l) const override { return index.at(l); }
    void SelectListEntry(EditorList l, int i) override { index[l] = i; }
    void SetListEnabled(EditorList l, bool e) override { Enable({true, int(l)}, e); }
    std::string FieldText(EditorField f) const override {
        return texts.count(f) ? texts.at(f) : "";
    }
    void SetFieldText(EditorField f, const std::string& t) override { Type(f, t); }
    void SetFieldEnabled(EditorField f, bool e) override { Enable({false, int(f)}, e); }
    void SetFieldMaxLength(EditorField f, int n) override { limits[f] = n; }
    void SetStationCaption(const std::string& l, const std::string& t) override {
        station = l + " / " + t;
    }
    void ClearRows() override { rows.clear(); }
    void InsertRowAtTop(const Row& c) override { rows.insert(rows.begin(), c); }
    int RowCount() const override { return int(rows.size()); }
    std::string Cell(int r, int c) const override { return rows.at(r).at(c); }
    void SetCell(int r, int c, const std::string& t) override { rows.at(r).at(c) = t; }
    void SelectRow(int) override {}
    void Enable(std::pair<bool, int> control, bool e) {
        e ? void(disabled.erase(control)) : void(disabled.insert(control));
    }

    // The operator types text into a field, or picks a list entry.
    void Type(EditorField f, const std::string& t) {
        texts[f] = t;
        if (editor) editor->FieldChanged(f);
    }
    void Pick(EditorList l, int i) {
        index[l] = i;
        editor->ListSelected(l);
    }

    std::map<EditorList, Texts> lists;
    std::map<EditorList, int> index;
    std::map<EditorField, std::string> texts;
    std::map<EditorField, int> limits;
    std::set<std::pair<bool, int>> disabled;
    std::vector<Row> rows;
    std::string station;
    WorkspaceEditor* editor = nullptr;
};

struct EditorFixture : ::testing::Test {
    EditorFixture() {
        for (int i = 1; i <= 4; ++i)
            ws.Items.push_back(DefaultChannelItem(i));
    }
    void open(bool fixed = false) {
        editor = std::make_unique<WorkspaceEditor>(ws, form, RegionalSettings::point());
        form.editor = editor.get();
        editor->Open(fixed);
    }
    bool enabled(EditorList l) const { return !form.disabled.count({true, int(l)}); }
    WorkspaceClass ws{4, "Rig 1", "", 3, 115200, 0, 0, {}, 1000, 0};
    FakeForm form;
    std::unique_ptr<WorkspaceEditor> editor;
};

} // namespace

// Backspace, copy and paste always pass; cut, undo and every other control
// character never. "-" only at the start and where negatives are allowed; a
// selected "." the key would replace still counts. A set of allowed
// characters is the only rule where there is one.
TEST(ValidateKeyTest, NumberAndAllowedSetRules) {
    const struct {
        const char* text;
        int caret, key;
        bool negative;
        const char* allowed;
        int passes;
    } cases[] = {{"1.5", 3, 8, false, "", 8},
                 {"00", 0, 22, false, "0.", 22},
                 {"", 0, 24, true, "", 0},
                 {"", 0, 13, true, "", 0},
                 {"12", 2, '7', false, "", '7'},
                 {"12", 2, 'a', true, "", 0},
                 {"1.2", 3, '.', true, "", 0},
                 {"12", 2, '.', true, "", '.'},
                 {"1,2", 1, ',', true, "", 0},
                 {"5", 0, '-', true, "", '-'},
                 {"5", 1, '-', true, "", 0},
                 {"", 0, '-', false, "", 0},
                 {"1.", 1, '.', true, "", 0},
                 {"12", 2, '9', false, "0987654321", '9'},
                 {"12", 2, '-', true, "0987654321", 0},
                 {"0.0", 3, '.', false, "0.", '.'},
                 {"0.0", 3, '1', false, "0.", 0},
                 {"", 0, 300, false, "0.", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(ValidateKey(c.text, c.caret, c.key, c.negative, c.allowed), c.passes)
            << c.text << " " << c.key;
}

TEST(ScanNumberTest, LocaleIndependentScan) {
    const std::pair<const char*, double> cases[] = {
        {"007", 7},   {"1,5", 1},     {"abc", 0},     {" 1 2\t3\n", 123}, {"-2.5x", -2.5},
        {"+.5", 0.5}, {"1.2.3", 1.2}, {"2E-2", 0.02}, {"3e+", 3},         {"-", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(ScanNumber(text), value) << text;
}

// Opening fills the form and selects row one without writing back; channel
// edits land in item and list, numbers scanned and halved to even; beyond
// the item's range the item keeps its value.
TEST_F(EditorFixture, OpeningFillsTheFormAndChannelEditsLandInItemAndList) {
    ws.Items[1].TareValue = 1.5f;
    ws.Items[1].Command = "READ";
    ws.LogDefault = -2.5f;
    open();
    EXPECT_EQ(form.lists[EditorList::Port].size(), 99u);
    EXPECT_EQ(form.lists[EditorList::Channels].back(), "24");
    EXPECT_EQ(std::vector({form.index[EditorList::Port], form.index[EditorList::Baudrate]}),
              std::vector({2, 4}));
    EXPECT_EQ(form.texts[EditorField::LogDefault], "-2.5");
    ASSERT_EQ(form.rows.size(), 4u);
    EXPECT_EQ(form.rows[1], (Row{"2", "Channel 2", "2", "00.000", "1.5", "READ"}));
    EXPECT_EQ(form.texts[EditorField::Caption], "Channel 1");
    EXPECT_EQ(form.limits[EditorField::LogInterval], 5);
    // A row selection shows the row's texts and writes nothing while updating.
    form.rows[1][1] = "List text";
    editor->RowSelected(1);
    EXPECT_EQ(editor->CurrentChannel(), 2);
    EXPECT_EQ(form.texts[EditorField::Caption], "List text");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");
    EXPECT_FALSE(editor->Updating());

    editor->RowSelected(2);
    const auto cell = [&](EditorField field, const char* typed, size_t column) {
        form.Type(field, typed);
        return form.rows[2][column];
    };
    using F = EditorField;
    EXPECT_EQ((Row{cell(F::Station, "2.5", 2), cell(F::Station, "2147483647", 2),
                   cell(F::Station, "9999999999", 2), cell(F::TareValue, "1,5", 4),
                   cell(F::TareValue, "1e39", 4), cell(F::Caption, "Load cell", 1),
                   cell(F::Format, "0.0", 3), cell(F::Command, "12", 5)}),
              (Row{"2", "2147483647", "2147483647", "1", "1", "Load cell", "0.0", "12"}));
    EXPECT_EQ(ws.Items[2], (ItemClass{2147483647, "Load cell", "0.0", 1, "12"}));
    EXPECT_EQ(ws.Items[0].Caption, "Channel 1");
}

// Closing copies the workspace fields once (a close box after OK changes
// nothing more); an unreadable interval or default and a baud rate the list
// does not offer keep nothing of theirs, a port it does not offer stays.
TEST_F(EditorFixture, ClosingCopiesTheWorkspaceFieldsOnce) {
    ws.Baudrate = 57600;
    ws.Port = 150;
    ws.LogDefault = 3;
    open();
    EXPECT_EQ(form.index[EditorList::Port], -1);
    editor->FindItem(EditorList::Protocol, "VEXA ascii");
    EXPECT_EQ(form.index[EditorList::Protocol], 1);
    form.texts[EditorField::Title] = "Line 2";
    form.index[EditorList::Snap] = 1;
    form.texts[EditorField::LogInterval] = "";
    form.texts[EditorField::Notes] = "x\r\ny";
    form.texts[EditorField::LogDefault] = "1e400";
    editor->Close();
    EXPECT_EQ(std::tie(ws.Title, ws.Notes), std::make_tuple("Line 2", "x\r\ny"));
    EXPECT_EQ(std::vector({ws.Port, ws.Snap, ws.Protocol}), std::vector<int16_t>({150, 1, 1}));
    EXPECT_EQ(std::make_tuple(ws.Baudrate, ws.LogInterval, ws.LogDefault),
              std::make_tuple(9600, 1000, 3.0f));
    form.texts[EditorField::Title] = "later";
    editor->Close();
    EXPECT_EQ(ws.Title, "Line 2");
}

// Windows-1252 text from a file written on Windows shows legibly and keeps
// its bytes unless edited; an edited field is stored as typed (UTF-8).
TEST_F(EditorFixture, CodePageTextKeepsItsBytesUnlessEdited) {
    ws.Title = "Pr\374fstand";
    ws.Notes = "L\344nge\r\n\2005";
    ws.Items[0].Caption = "Druck \260C";
    ws.Items[1].Caption = "Temp \265";
    const WorkspaceClass original = ws;
    open();
    EXPECT_EQ(form.texts[EditorField::Title], "Pr\303\274fstand");
    EXPECT_EQ(form.texts[EditorField::Notes], "L\303\244nge\r\n\342\202\2545");
    EXPECT_EQ(form.texts[EditorField::Caption], "Druck \302\260C");
    form.Type(EditorField::Caption, form.texts[EditorField::Caption]);
    editor->RowSelected(1);
    form.Type(EditorField::Caption, form.texts[EditorField::Caption] + "s");
    editor->Close();
    EXPECT_EQ(std::tie(ws.Title, ws.Notes, ws.Items[0].Caption),
              std::tie(original.Title, original.Notes, original.Items[0].Caption));
    EXPECT_EQ(ws.Items[1].Caption, "Temp \302\265s");
}
