// The "Configure Workspace" editor's procedures, independent of the toolkit.
// It works directly on the current workspace: channel edits and channel-count
// changes land in it at once, the workspace-wide fields when the dialog closes.
//
// The main window only uses the Qt dialog (WorkSpaceFrm.h):
//   WorkSpaceFrm frm(workspace, regional, this);
//   frm.SetFixedInstall(state.FixedInstall);
//   frm.exec();            // closing by OK, Escape or the close box applies
#pragma once

#include "base/NumberText.h"
#include "workspace/Workspace.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class EditorList { Protocol, Port, Baudrate, Channels, Snap };
enum class EditorField {
    Title,
    LogInterval,
    Station,
    Caption,
    Command,
    Format,
    TareValue,
    Notes,
    LogDefault
};

// The controls as the procedures see them. Selecting an entry here must not
// run any handling: the editor runs it itself.
class WorkspaceEditorForm {
  public:
    virtual ~WorkspaceEditorForm() = default;
    virtual void SetListEntries(EditorList list, const std::vector<std::string>& entries) = 0;
    virtual int ListCount(EditorList list) const = 0;
    virtual std::string ListText(EditorList list, int index) const = 0;
    virtual int ListIndex(EditorList list) const = 0; // -1 when none
    virtual void SelectListEntry(EditorList list, int index) = 0;
    virtual void SetListEnabled(EditorList list, bool enabled) = 0;

    virtual std::string FieldText(EditorField field) const = 0;
    virtual void SetFieldText(EditorField field, const std::string& text) = 0;
    virtual void SetFieldEnabled(EditorField field, bool enabled) = 0;
    virtual void SetFieldMaxLength(EditorField field, int length) = 0;
    virtual void SetStationCaption(const std::string& label, const std::string& toolTip) = 0;

    // The channel list: rows from 0, columns from 0 (Channel ... Command).
    virtual void ClearRows() = 0;
    virtual void InsertRowAtTop(const std::vector<std::string>& columns) = 0;
    virtual int RowCount() const = 0;
    virtual std::string Cell(int row, int column) const = 0;
    virtual void SetCell(int row, int column, const std::string& text) = 0;
    virtual void SelectRow(int row) = 0; // marks the row only
};

// The key filter: the typed character's code, or 0 to refuse it. text is
// the box's text before the key (selection included), caret where the key
// would go; an empty allowed set means the number set "1234567890-.,".
int ValidateKey(const std::string& text, int caret, int keyCode, bool allowNegative,
                const std::string& allowed = {});

// The locale-independent number scan: blanks, tabs and line feeds skipped
// anywhere, then sign, digits with one ".", exponent; 0 when nothing fits.
double ScanNumber(const std::string& text);

class WorkspaceEditor {
  public:
    WorkspaceEditor(WorkspaceClass& workspace, WorkspaceEditorForm& form,
                    const RegionalSettings& regional);

    // Fills the lists, copies the workspace in, selects row 1.
    void Open(bool fixedInstall);
    // Locks title, protocol, channel count, snap and command for good.
    void LockFixedInstall();
    void WorkspaceToForm();
    void WorkSpaceToList();
    void FormToWorkspace();
    void FormToList() {}
    void FindItem(EditorList target, const std::string& text);

    // Handling of the user's (or the program's) actions.
    void RowSelected(int row); // row from 0
    void ListSelected(EditorList list);
    void FieldChanged(EditorField field);
    // The key filter of field; returns the code to apply or 0.
    int KeyTyped(EditorField field, int keyCode, int caret) const;
    // Runs FormToWorkspace once, whichever way the dialog closes.
    void Close();

    int CurrentChannel() const { return m_current; }
    bool Updating() const { return m_updating; }

    static const std::vector<std::string>& ProtocolNames();
    static const std::vector<std::string>& Baudrates();
    static const char* FieldToolTip(EditorField field);

  private:
    void selectAndHandle(EditorList list, int index);
    void channelCountSelected();
    void protocolSelected();
    // Text fields show the workspace's bytes legibly; a field the operator
    // left as shown gives back those bytes, whatever their encoding.
    void showText(EditorField field, const std::string& bytes);
    void remember(EditorField field, const std::string& bytes);
    std::string keptText(EditorField field, const std::string& text) const;

    struct GivenText {
        std::string bytes; // as the workspace holds them
        std::string shown; // as the form gave them back when filled
    };
    std::map<EditorField, GivenText> m_given;
    WorkspaceClass& m_ws;
    WorkspaceEditorForm& m_form;
    RegionalSettings m_regional;
    int m_current = 0;
    bool m_updating = false;
    bool m_closed = false;
    bool m_fixed = false;
};
