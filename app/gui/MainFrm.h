// The one main window of the desktop program: menu, tiles, status strip.
// It is the view of the controller (MainFrameLogic): it implements the
// controller's view interface and forwards its events to it.
//
//   MainFrameServices services{boxes, dialogs, editor, sizes, shell, folders, ...};
//   MainFrm w(services);
//   if (!w.Startup()) return 1;   // shows the window and starts acquisition
//   return app.exec();
#pragma once

#include "core/CoreQt.h"
#include "core/LoggerCore.h"
#include "gui/MainFrameLogic.h"
#include "window/FormEvents.h"

#include <QAction>
#include <QMainWindow>

#include <map>
#include <memory>
#include <vector>

class LCDModule;
class QLabel;
class QFrame;
class QtFormEvents;
class StatisticsFrm;
class TableContainer;

class MainFrm : public QMainWindow,
                public MainWindowSurface,
                public formevents::FormEventsSink,
                private WorkspaceEditorHost {
    Q_OBJECT
  public:
    // The seams left empty are served by the window's own Qt message boxes,
    // file dialogs, workspace editor and timers.
    explicit MainFrm(MainFrameServices services, QWidget* parent = nullptr);
    ~MainFrm() override;

    // The start-up sequence; false when the program must end at once.
    bool Startup();

    MainFrameLogic& Logic() { return *m_logic; }
    MainWindowState& State() { return m_logic->State(); }
    WorkspaceClass& Workspace() { return m_logic->Workspace(); }
    LoggerCore& Core() { return m_logic->Core(); }
    QAction* Menu(const std::string& name) const; // mnuopen, mnuSave, ... by name
    LCDModule* Tile(int index) const;             // nullptr when absent
    int TileCount() const { return static_cast<int>(m_disp.size()) - 1; }
    TableContainer* TC() const { return m_tc; }
    QLabel* LogLabel() const { return m_logLabel; }
    QLabel* Vers() const { return m_vers; }
    QLabel* ImageLogo() const { return m_logo; }
    QLabel* Sizer() const { return m_sizer; }
    QtFormEvents* FormX() const { return m_formX.get(); }
    QFrame* StatusPanel() const { return m_statusPanel; }
    QWidget* ButtonBar() const { return m_buttonBar; }
    bool ScreenTimerActive() const { return m_logic->ScreenTimerActive(); }
    // "Statistics…" of the Communications menu; created at its first use.
    void ShowStatistics();
    StatisticsFrm* Statistics() const { return m_statistics; }

    // --- WindowSurface ---
    void SetLogLabel(const std::string& text) override;
    void SetBusyPointer(bool busy) override;
    void ProcessPendingEvents() override;
    bool IsShift() override;
    void EnableMenu(MenuCommand command, bool enabled) override;
    std::string TileTitle(int tile) override;
    void SetTile(int tile, const std::string& value, uint32_t backColour) override;
    void SetTileTip(int tile, const std::string& tip) override;
    bool IsMinimised() override;
    void FreezeDrawing() override;
    void ReleaseDrawing() override;
    // --- MainWindowSurface ---
    void SetCaption(const std::string& caption) override;
    void SetMenuVisible(MenuItem item, bool visible) override;
    void SetVersionLabel(const std::string& text) override;
    void SetLogoTooltip(const std::string& text) override;
    void SetWindowIcon() override;
    bool LoadLogo(const std::string& path) override;
    void RemoveTiles() override;
    void CreateTile(int index, const std::string& title, const std::string& value) override;
    TwipSize OuterSize() override;
    TwipSize InnerSize() override;
    void SetOuterSize(TwipSize size) override;
    TwipSize LayoutTiles() override;
    TwipSize PlaceContainer(TwipSize size) override;
    void WaitForEvents(double maxMs) override;
    void DisableInput() override;
    void AttachHooks() override;
    void DetachHooks() override;
    void ShowWindow() override;
    // --- FormEventsSink ---
    void NCHitTest(std::int16_t x, std::int16_t y, std::int32_t& hitCode) override;
    void Resizing(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
                  std::int16_t draggedBorder) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void EditWorkspace(WorkspaceClass& ws, bool fixedInstall) override;
    void BuildMenu();
    void BuildStatusStrip();
    void LayOutStatusStrip();
    void CheckFrame();
    QAction* AddEntry(QMenu* menu, const char* name, const char* caption, const char* shortcut);

    std::unique_ptr<MessageBoxes> m_ownBoxes;
    std::unique_ptr<FileDialogService> m_ownDialogs;
    std::unique_ptr<MainFrameLogic> m_logic;
    std::unique_ptr<QtFormEvents> m_formX;

    std::map<std::string, QAction*> m_menu;
    std::map<MenuCommand, QAction*> m_commands;
    QWidget* m_client;
    TableContainer* m_tc;
    std::vector<LCDModule*> m_disp; // element 0 is the hidden template
    QFrame* m_statusPanel;
    QLabel* m_logLabel;
    QWidget* m_buttonBar;
    QLabel* m_vers;
    QLabel* m_logo;
    QLabel* m_sizer;
    StatisticsFrm* m_statistics = nullptr;
    QSize m_frameSeen; // frame margins the last measurement saw
    bool m_busy = false;
    bool m_unloaded = false;
};
