// Qt front ends of the file dialogs and the shell's special folders.
#pragma once

#include "workspace/dialogs/FileDialogs.h"

class QFileDialog;
class QWidget;

// Local application data is the XDG config folder, documents the XDG
// documents folder; each is created with its parents when missing.
class QtSpecialFolders : public SpecialFolderSource {
  public:
    std::string GetSpecialFolder(int number) override;
};

// Modal QFileDialog owned by the main window.
class QtFileDialogService : public FileDialogService {
  public:
    explicit QtFileDialogService(QWidget* owner) : m_owner(owner) {}
    FileDialogResult Show(const FileDialogRequest& request) override;

  private:
    QWidget* m_owner;
};

// Gives dialog the title, filters, default extension, folder, name and
// options of request (kept apart so it can be checked without showing it).
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);
