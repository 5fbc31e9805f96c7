// QMessageBox answers for the logic's message boxes: modal when an answer
// is awaited, a box that stays open beside the window for a notice.
#pragma once

#include "base/MessageBox.h"

class QWidget;

class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(QWidget* owner) : m_owner(owner) {}
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons = MessageButtons::Ok) override;
    void notify(const std::string& text, const std::string& title, MessageIcon icon) override;

  private:
    QWidget* m_owner;
};
