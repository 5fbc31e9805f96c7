// The "Configure Workspace" dialog on the offscreen platform: only the
// wiring between its widgets and the editor (whose procedures
// WorkspaceEditorTest covers), its key handling, texts and shape.
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

void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
}

void TypeText(QWidget* widget, const QString& text) {
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

struct FrmFixture : ::testing::Test {
    FrmFixture() {
        for (int i = 1; i <= 4; ++i)
            ws.Items.push_back(DefaultChannelItem(i));
        frm = std::make_unique<WorkSpaceFrm>(ws, RegionalSettings::point());
        frm->show();
        QApplication::processEvents();
    }
    WorkspaceClass ws{4, "", "", 2, 0, 0, 0, {}, 0, 0};
    std::unique_ptr<WorkSpaceFrm> frm;
};

} // namespace

// The editor's state reaches the widgets; lists, rows and typed fields
// reach the editor. The panel's corners are cut.
TEST_F(FrmFixture, SelectionsAndTypingReachTheEditor) {
    EXPECT_EQ(frm->cbPort->currentText(), "2");
    EXPECT_EQ(frm->tbCaption->text(), "Channel 1");
    EXPECT_FALSE(frm->Rounded->mask().contains(QPoint(0, 0)));
    Pick(frm->cbChannels, 5);
    EXPECT_EQ(frm->LV->topLevelItemCount(), 6);
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    EXPECT_EQ(frm->Editor().CurrentChannel(), 2);
    for (QLineEdit* field :
         {frm->tbStation, frm->tbCaption, frm->tbFormat, frm->tbTareValue, frm->tbCommand}) {
        field->selectAll();
        TypeText(field, "0");
    }
    EXPECT_EQ(ws.Items[1], (ItemClass{0, "0", "0", 0, "0"}));
    Pick(frm->cbProtocol, ProtocolUSB);
    EXPECT_FALSE(frm->cbPort->isEnabled());
    EXPECT_EQ(frm->lblStation->text() + " / " + frm->tbStation->toolTip(),
              "Serial Number / Set instrument serial number for this channel");
    // A fixed installation locks title, protocol, channel count, snap and
    // command; a lock set on the open dialog holds through a protocol change.
    frm->SetFixedInstall(true);
    Pick(frm->cbProtocol, ProtocolASCII);
    EXPECT_TRUE(frm->cbPort->isEnabled());
    for (QWidget* locked : std::initializer_list<QWidget*>{
             frm->tbTitle, frm->cbProtocol, frm->cbChannels, frm->cbSnap, frm->tbCommand})
        EXPECT_FALSE(locked->isEnabled()) << locked->objectName().toStdString();
}

// Every key passes the editor's filter: paste unfiltered, cut and undo
// refused where there is a filter, Delete works. The length limit holds
// back typing and never cuts a text.
TEST_F(FrmFixture, KeysPassTheFilterAndTheLimitNeverCutsText) {
    Pick(frm->cbProtocol, ProtocolUSB);
    frm->tbLogInterval->setText("250");
    frm->tbLogInterval->setCursorPosition(0);
    TypeText(frm->tbLogInterval, "-a");
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
    EXPECT_EQ(ws.Items[0].Caption, "");

    frm->tbStation->selectAll();
    TypeText(frm->tbStation, "12345678901");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    Pick(frm->cbProtocol, ProtocolVeldaBus);
    TypeText(frm->tbStation, "5");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
}

// There is no Cancel: OK, the close box and Escape all apply the edits.
TEST_F(FrmFixture, OkCloseBoxAndEscapeAllApply) {
    frm->tbNotes->setPlainText("first\nsecond");
    frm->btnOK->click();
    EXPECT_FALSE(frm->isVisible());
    EXPECT_EQ(ws.Notes, "first\r\nsecond");
    for (bool escape : {false, true}) {
        frm = std::make_unique<WorkSpaceFrm>(ws, RegionalSettings::point());
        frm->show();
        frm->tbTitle->setText(escape ? "Escape" : "Close box");
        if (escape)
            Press(frm.get(), Qt::Key_Escape, Qt::NoModifier, {});
        else
            frm->close();
        EXPECT_FALSE(frm->isVisible());
        EXPECT_EQ(ws.Title, escape ? "Escape" : "Close box");
    }
}
