// The "Configure Workspace" dialog: the editor's controls in Qt Widgets.
#pragma once

#include "workspace/dialogs/WorkspaceEditor.h"

#include <QDialog>
#include <QFrame>
#include <QLineEdit>

#include <memory>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// A frame with corners rounded by an ellipse of twips-per-pixel size.
class RoundedPanel : public QFrame {
    Q_OBJECT
  public:
    explicit RoundedPanel(QWidget* parent = nullptr);
    static int CornerSize(const QWidget* widget); // pixels
  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A one-line text box whose typed characters pass the editor's key filter
// and whose length limit never cuts text already in it.
class EditorLineEdit : public QLineEdit {
    Q_OBJECT
  public:
    EditorLineEdit(WorkspaceEditor*& editor, EditorField field, QWidget* parent = nullptr);
    void SetLimit(int length);
    int Limit() const { return m_limit; }
    // The character code a key press types, or -1 when it types none.
    static int KeyCode(const QKeyEvent& event);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void fitMaxLength();
    WorkspaceEditor*& m_editor;
    EditorField m_field;
    int m_limit = 32767;
};

class WorkSpaceFrm : public QDialog, private WorkspaceEditorForm {
    Q_OBJECT
  public:
    WorkSpaceFrm(WorkspaceClass& workspace, const RegionalSettings& regional,
                 QWidget* parent = nullptr);
    ~WorkSpaceFrm() override;

    // Locks title, protocol, channel count, snap and command (they still
    // show their values and are still copied back).
    void SetFixedInstall(bool fixed);
    // Fills the dialog; showEvent does it on the first show when not done.
    void OpenEditor();
    WorkspaceEditor& Editor() { return *m_editor; }

    QLineEdit* tbTitle;
    QComboBox* cbProtocol;
    QComboBox* cbPort;
    QComboBox* cbBaudrate;
    QComboBox* cbChannels;
    QComboBox* cbSnap;
    EditorLineEdit* tbLogInterval;
    RoundedPanel* Rounded;
    QTreeWidget* LV;
    EditorLineEdit* tbStation;
    EditorLineEdit* tbCaption;
    EditorLineEdit* tbCommand;
    EditorLineEdit* tbFormat;
    EditorLineEdit* tbTareValue;
    QPlainTextEdit* tbNotes;
    EditorLineEdit* tbLogDefault;
    QPushButton* btnOK;
    QLabel* lblStation; // element 3 of the label array

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void SetListEntries(EditorList list, const std::vector<std::string>& entries) override;
    int ListCount(EditorList list) const override;
    std::string ListText(EditorList list, int index) const override;
    int ListIndex(EditorList list) const override;
    void SelectListEntry(EditorList list, int index) override;
    void SetListEnabled(EditorList list, bool enabled) override;
    std::string FieldText(EditorField field) const override;
    void SetFieldText(EditorField field, const std::string& text) override;
    void SetFieldEnabled(EditorField field, bool enabled) override;
    void SetFieldMaxLength(EditorField field, int length) override;
    void SetStationCaption(const std::string& label, const std::string& toolTip) override;
    void ClearRows() override;
    void InsertRowAtTop(const std::vector<std::string>& columns) override;
    int RowCount() const override;
    std::string Cell(int row, int column) const override;
    void SetCell(int row, int column, const std::string& text) override;
    void SelectRow(int row) override;

    QComboBox* list(EditorList list) const;
    QWidget* field(EditorField field) const;

    WorkspaceClass& m_workspace;
    std::unique_ptr<WorkspaceEditor> m_editorOwner;
    WorkspaceEditor* m_editor = nullptr;
    bool m_fixed = false;
    bool m_opened = false;
    bool m_filling = false;
};
