// Modal QMessageBox answers for the logic's message boxes.
#pragma once

#include "workspace/MessageBox.h"

class QWidget;

class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(QWidget* owner) : m_owner(owner) {}
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons = MessageButtons::Ok) override;

  private:
    QWidget* m_owner;
};
