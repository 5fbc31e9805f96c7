#include "gui/QtMessageBoxes.h"

#include <QMessageBox>

namespace {

void Prepare(QMessageBox& box, const std::string& text, const std::string& title,
             MessageIcon icon) {
    // Our texts break lines with CR LF; Qt wants LF alone.
    box.setText(QString::fromLocal8Bit(text.c_str()).replace("\r\n", "\n"));
    box.setWindowTitle(QString::fromLocal8Bit(title.c_str()));
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
}

} // namespace

MessageAnswer QtMessageBoxes::show(const std::string& text, const std::string& title,
                                   MessageIcon icon, MessageButtons buttons) {
    QMessageBox box(m_owner);
    Prepare(box, text, title, icon);
    switch (buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MessageButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        // Escape or the close box on a box without Cancel is its only answer.
        return buttons == MessageButtons::Ok      ? MessageAnswer::Ok
               : buttons == MessageButtons::YesNo ? MessageAnswer::No
                                                  : MessageAnswer::Cancel;
    }
}

void QtMessageBoxes::notify(const std::string& text, const std::string& title, MessageIcon icon) {
    auto* box = new QMessageBox(m_owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    Prepare(*box, text, title, icon);
    box->setStandardButtons(QMessageBox::Ok);
    box->show();
}
