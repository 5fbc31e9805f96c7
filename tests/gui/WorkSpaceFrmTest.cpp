// The "Configure Workspace" dialog on the offscreen platform, driven with
// real key events and selections as the operator makes them.
#include "workspace/dialogs/WorkSpaceFrm.h"

#include "../support/ScratchFolder.h"
#include "workspace/WorkspaceFile.h"

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
#include <fstream>
#include <iterator>

namespace {

WorkspaceClass Workspace(int channels) {
    WorkspaceClass ws;
    ws.Channels = static_cast<int16_t>(channels);
    ws.Title = "Rig 1";
    ws.Port = 2;
    ws.Baudrate = 115200;
    ws.LogInterval = 1000;
    for (int i = 1; i <= channels; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

void TypeText(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void Control(QWidget* widget, Qt::Key key) {
    const QChar code(static_cast<char16_t>(key - Qt::Key_A + 1));
    QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, QString(code));
    QApplication::sendEvent(widget, &press);
}

void Pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

std::string Cell(const WorkSpaceFrm& frm, int row, int column) {
    return frm.LV->topLevelItem(row)->text(column).toStdString();
}

struct FrmFixture : ::testing::Test {
    void open(bool fixed = false) {
        frm = std::make_unique<WorkSpaceFrm>(ws, RegionalSettings::point());
        frm->SetFixedInstall(fixed);
        frm->show();
        QApplication::processEvents();
    }
    void TearDown() override { frm.reset(); }
    WorkspaceClass ws = Workspace(4);
    std::unique_ptr<WorkSpaceFrm> frm;
};

} // namespace

TEST_F(FrmFixture, ControlsCarryTheirCaptionsEntriesAndTips) {
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
    EXPECT_EQ(frm->cbBaudrate->count(), 7);
    EXPECT_EQ(frm->cbBaudrate->itemText(3), "76800");
    EXPECT_EQ(frm->cbPort->count(), 99);
    EXPECT_EQ(frm->cbChannels->count(), 24);
    EXPECT_EQ(frm->cbSnap->itemText(1), "Yes");
    EXPECT_FALSE(frm->cbPort->isEditable());
    EXPECT_EQ(frm->cbSnap->toolTip(), "Whether to syncronise all samples ");
    EXPECT_EQ(frm->tbLogDefault->toolTip(),
              "Enter a value to log if a channel does not deliver data. Set to zero to keep "
              "logging the last received value.");
    EXPECT_EQ(frm->tbStation->toolTip(), "Set instrument station number for this channel");
    EXPECT_EQ(frm->LV->headerItem()->text(1), "Description");
    EXPECT_EQ(frm->LV->headerItem()->text(5), "Command");
    EXPECT_EQ(frm->btnOK->text(), "OK");
    EXPECT_EQ(frm->tbLogInterval->maxLength(), 5);
    EXPECT_EQ(frm->tbStation->maxLength(), 3);
    EXPECT_EQ(frm->cbPort->currentText(), "2");
    EXPECT_EQ(frm->tbCaption->text(), "Channel 1");
    EXPECT_EQ(frm->LV->currentItem(), frm->LV->topLevelItem(0));
}

TEST_F(FrmFixture, UnofferedBaudRateOpensAsTheFirstAndIsStored) {
    ws.Baudrate = 57600;
    open();
    EXPECT_EQ(frm->cbBaudrate->currentText(), "9600");
    frm->btnOK->click();
    EXPECT_EQ(ws.Baudrate, 9600);
    EXPECT_FALSE(frm->isVisible());
}

TEST_F(FrmFixture, UsbWorkspaceShowsSnapNoAndSerialNumbers) {
    ws.Protocol = ProtocolUSB;
    ws.Snap = 1;
    open();
    EXPECT_EQ(frm->cbSnap->currentText(), "No");
    EXPECT_FALSE(frm->cbSnap->isEnabled());
    EXPECT_FALSE(frm->cbPort->isEnabled());
    EXPECT_FALSE(frm->cbBaudrate->isEnabled());
    EXPECT_EQ(frm->lblStation->text(), "Serial Number");
    EXPECT_EQ(frm->tbStation->toolTip(), "Set instrument serial number for this channel");

    frm->tbStation->selectAll();
    TypeText(frm->tbStation, "12345678901");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    EXPECT_EQ(ws.Items[0].Station, 1234567890);
    // Back on a serial protocol the limit shrinks but the serial number stays.
    Pick(frm->cbProtocol, ProtocolVeldaBus);
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    EXPECT_EQ(ws.Items[0].Station, 1234567890);
    EXPECT_EQ(frm->lblStation->text(), "Station");
    TypeText(frm->tbStation, "5");
    EXPECT_EQ(frm->tbStation->text(), "1234567890");
    Pick(frm->cbProtocol, ProtocolUSB);
    frm->close();
    EXPECT_EQ(ws.Snap, 0);
    EXPECT_EQ(ws.Protocol, ProtocolUSB);
}

TEST_F(FrmFixture, ChannelCountFourToSixToTwo) {
    open();
    Pick(frm->cbChannels, 5);
    ASSERT_EQ(frm->LV->topLevelItemCount(), 6);
    EXPECT_EQ(Cell(*frm, 4, 1), "Channel 5");
    EXPECT_EQ(Cell(*frm, 5, 2), "6");
    ASSERT_EQ(ws.Items.size(), 6u);
    EXPECT_EQ(ws.Items[5].Caption, "Channel 6");
    EXPECT_EQ(ws.Items[4].Station, 5);
    Pick(frm->cbChannels, 1);
    EXPECT_EQ(frm->LV->topLevelItemCount(), 2);
    EXPECT_EQ(ws.Items.size(), 2u);
    EXPECT_EQ(ws.Channels, 2);
    frm->close();
    EXPECT_EQ(ws.Channels, 2);
}

TEST_F(FrmFixture, TypedChannelFieldsUpdateItemAndListAtOnce) {
    open();
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    EXPECT_EQ(frm->tbCaption->text(), "Channel 2");
    frm->tbStation->selectAll();
    TypeText(frm->tbStation, "007");
    EXPECT_EQ(ws.Items[1].Station, 7);
    EXPECT_EQ(Cell(*frm, 1, 2), "7");
    frm->tbTareValue->selectAll();
    TypeText(frm->tbTareValue, "1,5");
    EXPECT_EQ(frm->tbTareValue->text(), "1,5");
    EXPECT_EQ(ws.Items[1].TareValue, 1.0f);
    EXPECT_EQ(Cell(*frm, 1, 4), "1");
    TypeText(frm->tbCaption, "x");
    EXPECT_EQ(ws.Items[1].Caption, "Channel 2x");
    EXPECT_EQ(Cell(*frm, 1, 1), "Channel 2x");
}

TEST_F(FrmFixture, RowClickWritesNoItem) {
    ws.Items[2].TareValue = 0.25f;
    open();
    // The list row says one thing, the item another: a click must not copy
    // the row's texts back into the item.
    frm->LV->topLevelItem(2)->setText(1, "Row text");
    frm->LV->setCurrentItem(frm->LV->topLevelItem(2));
    EXPECT_EQ(frm->tbCaption->text(), "Row text");
    EXPECT_EQ(frm->tbTareValue->text(), "0.25");
    EXPECT_EQ(ws.Items[2].Caption, "Channel 3");
    EXPECT_EQ(frm->Editor().CurrentChannel(), 3);
}

TEST_F(FrmFixture, KeyFilterOnTheNumberFields) {
    open();
    frm->tbLogDefault->clear();
    TypeText(frm->tbLogDefault, "1.5.");
    EXPECT_EQ(frm->tbLogDefault->text(), "1.5");
    TypeText(frm->tbLogDefault, "-");
    EXPECT_EQ(frm->tbLogDefault->text(), "1.5");
    frm->tbLogDefault->setCursorPosition(0);
    TypeText(frm->tbLogDefault, "-");
    EXPECT_EQ(frm->tbLogDefault->text(), "-1.5");

    frm->tbLogInterval->setText("250");
    frm->tbLogInterval->setCursorPosition(0);
    TypeText(frm->tbLogInterval, "-a");
    EXPECT_EQ(frm->tbLogInterval->text(), "250");

    // Delete types no character: it works in a filtered field.
    frm->tbLogInterval->setCursorPosition(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
    QApplication::sendEvent(frm->tbLogInterval, &del);
    EXPECT_EQ(frm->tbLogInterval->text(), "50");

    frm->tbFormat->selectAll();
    TypeText(frm->tbFormat, "0a1.0");
    EXPECT_EQ(frm->tbFormat->text(), "0.0");
    EXPECT_EQ(ws.Items[0].Format, "0.0");
    // The free fields take anything.
    frm->tbCommand->clear();
    TypeText(frm->tbCommand, "a-1.");
    EXPECT_EQ(frm->tbCommand->text(), "a-1.");
}

TEST_F(FrmFixture, PastePassesUnfilteredCutAndUndoAreRefused) {
    open();
    QApplication::clipboard()->setText("ab-9");
    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_V);
    EXPECT_EQ(frm->tbStation->text(), "ab-");
    EXPECT_EQ(ws.Items[0].Station, 0);

    frm->tbStation->selectAll();
    Control(frm->tbStation, Qt::Key_X);
    EXPECT_EQ(frm->tbStation->text(), "ab-");
    Control(frm->tbStation, Qt::Key_Z);
    EXPECT_EQ(frm->tbStation->text(), "ab-");
    // Cut works where there is no filter.
    frm->tbCaption->selectAll();
    Control(frm->tbCaption, Qt::Key_X);
    EXPECT_EQ(frm->tbCaption->text(), "");
    EXPECT_EQ(ws.Items[0].Caption, "");
}

TEST_F(FrmFixture, CloseBoxAndEscapeApplyLikeOk) {
    open();
    frm->tbTitle->setText("Line 2");
    frm->tbNotes->setPlainText("first\nsecond");
    frm->tbLogInterval->setText("250");
    frm->cbPort->setCurrentIndex(9);
    frm->close();
    EXPECT_EQ(ws.Title, "Line 2");
    EXPECT_EQ(ws.Notes, "first\r\nsecond");
    EXPECT_EQ(ws.LogInterval, 250);
    EXPECT_EQ(ws.Port, 10);

    WorkSpaceFrm again(ws, RegionalSettings::point());
    again.show();
    again.tbTitle->setText("Line 3");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&again, &escape);
    EXPECT_FALSE(again.isVisible());
    EXPECT_EQ(ws.Title, "Line 3");
}

TEST_F(FrmFixture, FixedInstallationLocksFiveControlsAndStillCopiesThem) {
    ws.Snap = 1;
    open(true);
    for (QWidget* w : std::initializer_list<QWidget*>{frm->tbTitle, frm->cbProtocol,
                                                      frm->cbChannels, frm->cbSnap, frm->tbCommand})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(frm->tbCaption->isEnabled());
    EXPECT_TRUE(frm->cbPort->isEnabled());
    EXPECT_EQ(frm->tbTitle->text(), "Rig 1");
    frm->close();
    EXPECT_EQ(ws.Title, "Rig 1");
    EXPECT_EQ(ws.Snap, 1);
}

TEST_F(FrmFixture, RoundedPanelCutsItsCorners) {
    open();
    frm->resize(700, 600);
    QApplication::processEvents();
    const QRegion mask = frm->Rounded->mask();
    ASSERT_FALSE(mask.isEmpty());
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_TRUE(mask.contains(frm->Rounded->rect().center()));
    EXPECT_EQ(RoundedPanel::CornerSize(frm->Rounded), 1440 / frm->Rounded->logicalDpiX());
    if (const char* dir = std::getenv("TARNVIK_SNAPSHOT_DIR"))
        frm->grab().save(QString::fromLocal8Bit(dir) + "/WorkSpaceFrm.png");
}

TEST_F(FrmFixture, CodePageTextShowsLegiblyAndKeepsItsBytesUnlessEdited) {
    struct : MessageBoxes {
        MessageAnswer show(const std::string& text, const std::string&, MessageIcon,
                           MessageButtons) override {
            ADD_FAILURE() << text;
            return MessageAnswer::Ok;
        }
    } boxes;
    const std::filesystem::path folder = MakeScratchFolder("tarnvik-frm");
    const std::string file = (folder / "rig.lws").string();
    auto bytes = [&file] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // Written on Windows: Windows-1252 text throughout.
    ws.Title = "Pr\xFC"
               "fstand";
    ws.Notes = "L\xE4nge\r\n\x80"
               "5";
    ws.Items[0].Caption = "Druck \xB0"
                          "C";
    ws.Items[1].Caption = "Temp \xB5";
    ws.Items[1].Command = "R\xE9"
                          "el";
    SaveWorkspace(ws, file, RegionalSettings::point(), boxes);
    const std::string original = bytes();
    ws = WorkspaceClass();
    LoadWorkspace(ws, file, RegionalSettings::point(), boxes);

    open();
    EXPECT_EQ(frm->tbTitle->text(), QString::fromUtf8("Pr\u00FCfstand"));
    EXPECT_EQ(frm->tbNotes->toPlainText(), QString::fromUtf8("L\u00E4nge\n\u20AC5"));
    EXPECT_EQ(frm->tbCaption->text(), QString::fromUtf8("Druck \u00B0C"));
    EXPECT_EQ(frm->LV->topLevelItem(1)->text(5), QString::fromUtf8("R\u00E9el"));
    // Typed and taken back is no change; neither is an edit of another field.
    TypeText(frm->tbTitle, "x");
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(frm->tbTitle, &backspace);
    TypeText(frm->tbStation, "7");
    frm->done(QDialog::Accepted);
    EXPECT_EQ(ws.Items[0].Station, 17);
    ws.Items[0].Station = 1;
    SaveWorkspace(ws, file, RegionalSettings::point(), boxes);
    EXPECT_EQ(bytes(), original);

    // An edited field is stored in the locale's encoding, UTF-8 here.
    open();
    frm->LV->setCurrentItem(frm->LV->topLevelItem(1));
    TypeText(frm->tbCaption, "s");
    frm->done(QDialog::Accepted);
    EXPECT_EQ(ws.Items[1].Caption, "Temp \xC2\xB5s");
    EXPECT_EQ(ws.Items[1].Command, "R\xE9"
                                   "el");
    EXPECT_EQ(ws.Items[0].Caption, "Druck \xB0"
                                   "C");
    std::filesystem::remove_all(folder);
}
