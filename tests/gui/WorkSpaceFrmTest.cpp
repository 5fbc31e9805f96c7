// The "Configure Workspace" dialog on the offscreen platform: the wiring
// between its widgets and the editor (whose procedures WorkspaceEditorTest
// covers), its own key handling, texts and shape.
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

#include <cstdlib>

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
        ws.Channels = 4;
        ws.Title = "Rig 1";
        ws.Port = 2;
        ws.LogInterval = 1000;
        for (int i = 1; i <= 4; ++i)
            ws.Items.push_back(DefaultChannelItem(i));
    }
    void open(bool fixed = false) {
        frm = std::make_unique<WorkSpaceFrm>(ws, RegionalSettings::point());
        frm->SetFixedInstall(fixed);
        frm->show();
        QApplication::processEvents();
    }
    std::string cell(int row, int column) const {
        return frm->LV->topLevelItem(row)->text(column).toStdString();
    }
    WorkspaceClass ws;
    std::unique_ptr<WorkSpaceFrm> frm;
};

} // namespace

TEST_F(FrmFixture, ControlsCarryTheirCaptionsAndTheEditorsState) {
    open();
    EXPECT_EQ(frm->windowTitle(), "Configure Workspace");
    QStringList captions;
    for (const QLabel* label : frm->findChildren<QLabel*>())
        captions << label->text();
    for (const char* caption :
         {"Title", "Protocol", "COM Port", "Baudrate", "Channels", "Snap", "Log Interval (ms)",
          "Station", "Caption", "Command", "Format", "Tare Value", "Notes", "Log Default Value:"})
        EXPECT_TRUE(captions.contains(caption)) << caption;
    EXPECT_EQ(frm->cbProtocol->itemText(2), "Vexa USB");
    EXPECT_EQ(frm->cbBaudrate->itemText(3), "76800");
    EXPECT_EQ(frm->cbSnap->itemText(1), "Yes");
    EXPECT_FALSE(frm->cbPort->isEditable());
    EXPECT_EQ(frm->cbSnap->toolTip(), "Whether to syncronise all samples ");
    EXPECT_EQ(frm->tbLogDefault->toolTip(),
              "Enter a value to log if a channel does not deliver data. Set to zero to keep "
              "logging the last received value.");
    EXPECT_EQ(frm->LV->headerItem()->text(1), "Description");
    EXPECT_EQ(frm->LV->headerItem()->text(5), "Command");
    EXPECT_EQ(frm->btnOK->text(), "OK");
    EXPECT_EQ(frm->tbLogInterval->maxLength(), 5);
    EXPECT_EQ(frm->cbPort->currentText(), "2");
    EXPECT_EQ(frm->tbTitle->text(), "Rig 1");
    EXPECT_EQ(frm->tbCaption->text(), "Channel 1");
    EXPECT_EQ(frm->LV->currentItem(), frm->LV->topLevelItem(0));
}

TEST_F(FrmFixture, SelectionsAndTypingReachTheEditor) {
    open();
    Pick(frm->cbChannels, 5);
    EXPECT_EQ(frm->LV->topLevelItemCount(), 6);
    EXPECT_EQ(ws.Items.size(), 6u);
    // A row click shows the row without writing its texts into the item.
    frm->LV->topLevelItem(1)->setText(1, "Row text");
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    EXPECT_EQ(frm->Editor().CurrentChannel(), 2);
    EXPECT_EQ(frm->tbCaption->text(), "Row text");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2");
    const std::pair<QLineEdit*, int> fields[] = {{frm->tbStation, 2},
                                                 {frm->tbCaption, 1},
                                                 {frm->tbFormat, 3},
                                                 {frm->tbTareValue, 4},
                                                 {frm->tbCommand, 5}};
    for (const auto& [field, column] : fields) {
        field->selectAll();
        TypeText(field, "0");
        EXPECT_EQ(cell(1, column), "0") << column;
    }
    EXPECT_EQ(ws.Items[1].Station, 0);
    EXPECT_EQ(ws.Items[1].Caption, "0");
    EXPECT_EQ(ws.Items[1].Command, "0");
    Pick(frm->cbProtocol, ProtocolUSB);
    EXPECT_FALSE(frm->cbPort->isEnabled());
    EXPECT_EQ(frm->lblStation->text(), "Serial Number");
}

TEST_F(FrmFixture, KeysPassTheFilterAndTheLimitNeverCutsText) {
    ws.Protocol = ProtocolUSB;
    open();
    frm->tbLogDefault->clear();
    TypeText(frm->tbLogDefault, "1.5.-");
    EXPECT_EQ(frm->tbLogDefault->text(), "1.5");
    frm->tbLogDefault->setCursorPosition(0);
    TypeText(frm->tbLogDefault, "-");
    EXPECT_EQ(frm->tbLogDefault->text(), "-1.5");
    // Delete types no character: it works in a filtered field.
    frm->tbLogInterval->setText("250");
    frm->tbLogInterval->setCursorPosition(0);
    TypeText(frm->tbLogInterval, "-a");
    Press(frm->tbLogInterval, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
    EXPECT_EQ(frm->tbLogInterval->text(), "50");
    frm->tbCommand->clear();
    TypeText(frm->tbCommand, "a-1.");
    EXPECT_EQ(frm->tbCommand->text(), "a-1.");

    // Paste passes unfiltered; cut and undo are refused where there is a filter.
    QApplication::clipboard()->setText("ab-9");
    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_V);
    EXPECT_EQ(frm->tbStation->text(), "ab-9");
    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_X);
    Control(frm->tbStation, Qt::Key_Z);
    EXPECT_EQ(frm->tbStation->text(), "ab-9");
    frm->tbCaption->selectAll();
    Control(frm->tbCaption, Qt::Key_X);
    EXPECT_EQ(ws.Items[0].Caption, "");

    // A serial number of ten digits; back on a serial protocol the shorter
    // limit keeps it whole and only holds back typing.
    frm->tbStation->selectAll();
    TypeText(frm->tbStation, "12345678901");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    Pick(frm->cbProtocol, ProtocolVeldaBus);
    TypeText(frm->tbStation, "5");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    EXPECT_EQ(ws.Items[0].Station, 1234567890);
}

TEST_F(FrmFixture, OkCloseBoxAndEscapeAllApply) {
    open();
    frm->tbNotes->setPlainText("first\nsecond");
    frm->cbPort->setCurrentIndex(9);
    frm->btnOK->click();
    EXPECT_FALSE(frm->isVisible());
    EXPECT_EQ(ws.Notes, "first\r\nsecond");
    EXPECT_EQ(ws.Port, 10);
    for (bool escape : {false, true}) {
        open();
        frm->tbTitle->setText(escape ? "Escape" : "Close box");
        if (escape)
            Press(frm.get(), Qt::Key_Escape, Qt::NoModifier, {});
        else
            frm->close();
        EXPECT_FALSE(frm->isVisible());
        EXPECT_EQ(ws.Title, escape ? "Escape" : "Close box");
    }
}

// The lock outlasts the protocol procedure that runs as the dialog opens.
TEST_F(FrmFixture, FixedInstallationLocksFiveControlsAndStillCopiesThem) {
    ws.Snap = 1;
    open(true);
    const std::initializer_list<QWidget*> locked = {frm->tbTitle, frm->cbProtocol, frm->cbChannels,
                                                    frm->cbSnap, frm->tbCommand};
    for (QWidget* w : locked)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(frm->tbCaption->isEnabled());
    EXPECT_TRUE(frm->cbPort->isEnabled());
    frm->close();
    EXPECT_EQ(ws.Title, "Rig 1");
    EXPECT_EQ(ws.Snap, 1);
}

TEST_F(FrmFixture, RoundedPanelCutsItsCorners) {
    open();
    frm->resize(700, 600);
    QApplication::processEvents();
    const QRegion mask = frm->Rounded->mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_TRUE(mask.contains(frm->Rounded->rect().center()));
    EXPECT_EQ(RoundedPanel::CornerSize(frm->Rounded), 1440 / frm->Rounded->logicalDpiX());
    if (const char* dir = std::getenv("TARNVIK_SNAPSHOT_DIR"))
        frm->grab().save(QString::fromLocal8Bit(dir) + "/WorkSpaceFrm.png");
}

// Windows-1252 text from a file written on Windows shows legibly and keeps
// its bytes unless edited; an edited field is stored as UTF-8 (the locale).
TEST_F(FrmFixture, CodePageTextKeepsItsBytesUnlessEdited) {
    ws.Title = "Pr\xFC"
               "fstand";
    ws.Notes = "L\xE4nge\r\n\x80"
               "5";
    ws.Items[0].Caption = "Druck \xB0"
                          "C";
    ws.Items[1].Caption = "Temp \xB5";
    const WorkspaceClass original = ws;
    open();
    EXPECT_EQ(frm->tbTitle->text(), QString::fromUtf8("Pr\u00FCfstand"));
    EXPECT_EQ(frm->tbNotes->toPlainText(), QString::fromUtf8("L\u00E4nge\n\u20AC5"));
    EXPECT_EQ(frm->tbCaption->text(), QString::fromUtf8("Druck \u00B0C"));
    // Typed and taken back is no change; neither is an edit of another field.
    TypeText(frm->tbTitle, "x");
    Press(frm->tbTitle, Qt::Key_Backspace, Qt::NoModifier, {});
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    TypeText(frm->tbCaption, "s");
    frm->done(QDialog::Accepted);
    EXPECT_EQ(ws.Title, original.Title);
    EXPECT_EQ(ws.Notes, original.Notes);
    EXPECT_EQ(ws.Items[0].Caption, original.Items[0].Caption);
    EXPECT_EQ(ws.Items[1].Caption, "Temp \xC2\xB5s");
}
