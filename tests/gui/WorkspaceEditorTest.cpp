// The "Configure Workspace" dialog on the offscreen platform: the editor's
// procedures driven through its widgets, its key handling and its closing;
// the key filter and number scan on their own.
#include "workspace/dialogs/WorkSpaceFrm.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using Row = std::vector<std::string>;

void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
}

void TypeKeys(QWidget* widget, const QString& text) {
    for (QChar c : text)
        Press(widget, c.toUpper().unicode(), Qt::NoModifier, QString(c));
}

void Control(QWidget* widget, Qt::Key key) {
    Press(widget, key, Qt::ControlModifier, QString(QChar(char16_t(key - Qt::Key_A + 1))));
}

void Pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// The editor behind the dialog, driven through the dialog's widgets; the
// text boxes report every change to it.
struct EditorFixture : ::testing::Test {
    EditorFixture() {
        for (int i = 1; i <= 4; ++i)
            ws.Items.push_back(DefaultChannelItem(i));
    }
    void open(bool show = false) {
        frm = std::make_unique<WorkSpaceFrm>(ws, RegionalSettings::point());
        show ? frm->show() : frm->OpenEditor();
        editor = &frm->Editor();
    }
    Row RowOf(int r) const {
        Row row;
        for (int c = 0; c < 6; ++c)
            row.push_back(frm->LV->topLevelItem(r)->text(c).toStdString());
        return row;
    }
    // Text pasted past the field's limit.
    static void Type(QLineEdit* field, const std::string& text) {
        field->setMaxLength(32);
        field->setText(QString::fromStdString(text));
    }
    static std::string Text(const QLineEdit* field) { return field->text().toStdString(); }
    WorkspaceClass ws{4, "Rig 1", "", 3, 115200, 0, 0, {}, 1000, 0};
    std::unique_ptr<WorkSpaceFrm> frm;
    WorkspaceEditor* editor = nullptr;
};

} // namespace

// Backspace, copy and paste always pass; cut, undo and every other control
// character never. "-" only at the start and where negatives are allowed; a
// selected "." the key would replace still counts. A set of allowed
// characters is the only rule where there is one.
TEST(ValidateKeyTest, NumberAndAllowedSetRulesAndTheScan) {
    const struct {
        const char* text;
        int caret, key;
        bool negative;
        const char* allowed;
        int passes;
    } cases[] = {{"1.5", 3, 8, false, "", 8},
                 {"", 0, 13, true, "", 0},
                 {"12", 2, '7', false, "", '7'},
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
    const std::pair<const char*, double> scans[] = {
        {"007", 7},   {"1,5", 1},     {"abc", 0},     {" 1 2\t3\n", 123}, {"-2.5x", -2.5},
        {"+.5", 0.5}, {"1.2.3", 1.2}, {"2E-2", 0.02}, {"3e+", 3},         {"-", 0}};
    for (const auto& [text, value] : scans)
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
    EXPECT_EQ(frm->cbPort->count(), 99);
    EXPECT_EQ(frm->cbChannels->itemText(frm->cbChannels->count() - 1), "24");
    EXPECT_EQ(std::vector({frm->cbPort->currentIndex(), frm->cbBaudrate->currentIndex()}),
              std::vector({2, 4}));
    EXPECT_EQ(Text(frm->tbLogDefault), "-2.5");
    ASSERT_EQ(frm->LV->topLevelItemCount(), 4);
    EXPECT_EQ(RowOf(1), (Row{"2", "Channel 2", "2", "00.000", "1.5", "READ"}));
    EXPECT_EQ(Text(frm->tbCaption), "Channel 1");
    EXPECT_EQ(frm->tbLogInterval->Limit(), 5);
    // A row selection shows the row's texts and writes nothing while updating.
    frm->LV->topLevelItem(1)->setText(1, "List text");
    editor->RowSelected(1);
    EXPECT_EQ(editor->CurrentChannel(), 2);
    EXPECT_EQ(Text(frm->tbCaption), "List text");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");

    editor->RowSelected(2);
    const auto cell = [&](QLineEdit* field, const char* typed, size_t column) {
        Type(field, typed);
        return RowOf(2)[column];
    };
    EXPECT_EQ((Row{cell(frm->tbStation, "2.5", 2), cell(frm->tbStation, "2147483647", 2),
                   cell(frm->tbStation, "9999999999", 2), cell(frm->tbTareValue, "1,5", 4),
                   cell(frm->tbTareValue, "1e39", 4), cell(frm->tbCaption, "Load cell", 1),
                   cell(frm->tbFormat, "0.0", 3), cell(frm->tbCommand, "12", 5)}),
              (Row{"2", "2147483647", "2147483647", "1", "1", "Load cell", "0.0", "12"}));
    EXPECT_EQ(ws.Items[2], (ItemClass{2147483647, "Load cell", "0.0", 1, "12"}));
    EXPECT_EQ(ws.Items[0].Caption, "Channel 1");
    // A smaller count cuts the shown channel away: its fields write nowhere.
    frm->cbChannels->setCurrentIndex(1);
    editor->ListSelected(EditorList::Channels);
    Type(frm->tbCaption, "ghost");
    ASSERT_EQ(ws.Items.size(), 2u);
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");
}

// Closing copies the workspace fields once (a close box after OK changes
// nothing more); an unreadable interval or default and a baud rate the list
// does not offer keep nothing of theirs, a port it does not offer stays.
TEST_F(EditorFixture, ClosingCopiesTheWorkspaceFieldsOnce) {
    ws.Baudrate = 57600;
    ws.Port = 150;
    ws.LogDefault = 3;
    open();
    EXPECT_EQ(frm->cbPort->currentIndex(), -1);
    editor->FindItem(EditorList::Protocol, "VEXA ascii");
    EXPECT_EQ(frm->cbProtocol->currentIndex(), 1);
    frm->tbTitle->setText("Line 2");
    frm->cbSnap->setCurrentIndex(1);
    frm->tbLogInterval->clear();
    frm->tbNotes->setPlainText("x\ny");
    Type(frm->tbLogDefault, "1e400");
    editor->Close();
    EXPECT_EQ(std::tie(ws.Title, ws.Notes), std::make_tuple("Line 2", "x\r\ny"));
    EXPECT_EQ(std::vector({ws.Port, ws.Snap, ws.Protocol}), std::vector<int16_t>({150, 1, 1}));
    EXPECT_EQ(std::make_tuple(ws.Baudrate, ws.LogInterval, ws.LogDefault),
              std::make_tuple(9600, 1000, 3.0f));
    frm->tbTitle->setText("later");
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
    EXPECT_EQ(Text(frm->tbTitle), "Pr\303\274fstand");
    EXPECT_EQ(frm->tbNotes->toPlainText().toStdString(), "L\303\244nge\n\342\202\2545");
    EXPECT_EQ(Text(frm->tbCaption), "Druck \302\260C");
    editor->FieldChanged(EditorField::Caption); // its own text again
    editor->RowSelected(1);
    Type(frm->tbCaption, Text(frm->tbCaption) + "s");
    editor->Close();
    EXPECT_EQ(std::tie(ws.Title, ws.Notes, ws.Items[0].Caption),
              std::tie(original.Title, original.Notes, original.Items[0].Caption));
    EXPECT_EQ(ws.Items[1].Caption, "Temp \302\265s");
}

// Typed keys reach the editor through its filter: paste unfiltered, cut and
// undo refused where there is a filter, Delete works; the length limit holds
// back typing and never cuts a text. A fixed installation locks title,
// protocol, channel count, snap and command, also when set on the open
// dialog and through a protocol change. The panel's corners are cut.
TEST_F(EditorFixture, KeysPassTheFilterAFixedInstallationLocksAndClosingApplies) {
    open(true);
    QApplication::processEvents();
    Pick(frm->cbChannels, 5);
    EXPECT_FALSE(frm->Rounded->mask().contains(QPoint(0, 0)));
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    for (QLineEdit* field :
         {frm->tbStation, frm->tbCaption, frm->tbFormat, frm->tbTareValue, frm->tbCommand}) {
        field->selectAll();
        TypeKeys(field, "0");
    }
    EXPECT_EQ(ws.Items[1], (ItemClass{0, "0", "0", 0, "0"}));
    Pick(frm->cbProtocol, ProtocolUSB);
    EXPECT_FALSE(frm->cbPort->isEnabled());
    EXPECT_EQ(frm->lblStation->text() + " / " + frm->tbStation->toolTip(),
              "Serial Number / Set instrument serial number for this channel");
    frm->tbLogInterval->setText("250");
    frm->tbLogInterval->setCursorPosition(0);
    TypeKeys(frm->tbLogInterval, "-a");
    Press(frm->tbLogInterval, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
    EXPECT_EQ(frm->tbLogInterval->text(), "50");
    QApplication::clipboard()->setText("ab-9");
    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_V);
    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_X);
    Control(frm->tbStation, Qt::Key_Z);
    EXPECT_EQ(frm->tbStation->text(), "ab-9");
    frm->tbCaption->selectAll();
    Control(frm->tbCaption, Qt::Key_X);
    EXPECT_EQ(ws.Items[1].Caption, "");
    frm->tbStation->selectAll();
    TypeKeys(frm->tbStation, "12345678901");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    Pick(frm->cbProtocol, ProtocolVeldaBus);
    TypeKeys(frm->tbStation, "5");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");

    frm->SetFixedInstall(true);
    Pick(frm->cbProtocol, ProtocolASCII);
    EXPECT_TRUE(frm->cbPort->isEnabled());
    for (QWidget* locked : std::initializer_list<QWidget*>{
             frm->tbTitle, frm->cbProtocol, frm->cbChannels, frm->cbSnap, frm->tbCommand})
        EXPECT_FALSE(locked->isEnabled()) << locked->objectName().toStdString();
    // There is no Cancel: OK, the close box and Escape all apply the edits.
    for (const char* how : {"OK", "Close box", "Escape"}) {
        open(true);
        frm->tbTitle->setText(how);
        frm->tbNotes->setPlainText("first\nsecond");
        if (how[0] == 'O') frm->btnOK->click();
        if (how[0] == 'C') frm->close();
        if (how[0] == 'E') Press(frm.get(), Qt::Key_Escape, Qt::NoModifier, {});
        EXPECT_FALSE(frm->isVisible());
        EXPECT_EQ(std::tie(ws.Title, ws.Notes), std::make_tuple(how, "first\r\nsecond"));
    }
}
