// The desktop program's controller, free of any toolkit. It owns the
// workspace, the state record, the protocol dispatch and the logging core,
// and runs start-up, shutdown, channel set-up, the commands and the window
// geometry. MainFrm (the Qt window) is its view: it implements
// MainWindowSurface and forwards its events here; the controller starts
// and stops its own timers.
//
//   MainFrameLogic logic(view, services);
//   if (!logic.Startup()) return 1;        // the USB driver file is missing
//   ... close box:  if (!logic.QueryUnload()) { logic.Unload(); accept(); }
#pragma once

#include "base/MessageBox.h"
#include "base/NumberText.h"
#include "comm/ProtocolModule.h"
#include "controls/ColourValue.h"
#include "core/CoreSeams.h"
#include "core/LoggerCore.h"
#include "core/MainWindowState.h"
#include "workspace/Workspace.h"
#include "workspace/dialogs/FileDialogs.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Menu entries that start-up shows or hides; Separator is the one below Save.
enum class MenuItem { OpenWorkspace, SaveWorkspace, Separator, ConfigureWorkspace };

struct TwipSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const TwipSize&) const = default;
};

// What start-up, set-up and the commands need from the main window beyond
// what the acquisition logic needs (sizes in twips).
class MainWindowSurface : public WindowSurface {
  public:
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetMenuVisible(MenuItem item, bool visible) = 0;
    virtual void SetVersionLabel(const std::string& text) = 0;
    virtual void SetLogoTooltip(const std::string& text) = 0;
    virtual void SetWindowIcon() = 0;
    // false when the picture cannot be read; the logo then stays as it was.
    virtual bool LoadLogo(const std::string& path) = 0;
    // Removes every tile of index 1 and up, the highest first.
    virtual void RemoveTiles() = 0;
    // Creates tile index from the template tile, visible, with title and value.
    virtual void CreateTile(int index, const std::string& title, const std::string& value) = 0;
    virtual TwipSize OuterSize() = 0;
    virtual TwipSize InnerSize() = 0;
    // Keeps the window's left and top.
    virtual void SetOuterSize(TwipSize size) = 0;
    // Lays the tiles out; returns the size the container settled on.
    virtual TwipSize LayoutTiles() = 0;
    // Moves the container to (0, 0) with this size; returns the size it settled on.
    virtual TwipSize PlaceContainer(TwipSize size) = 0;
    // Processes window events, waiting at most maxMs for the next one.
    virtual void WaitForEvents(double maxMs) = 0;
    virtual void DisableInput() = 0;
    virtual void AttachHooks() = 0;
    virtual void DetachHooks() = 0;
    virtual void ShowWindow() = 0;
};

// The per-user program-settings store (section "Size").
class SizeSettings {
  public:
    virtual ~SizeSettings() = default;
    virtual std::optional<std::string> Read(const std::string& section, const std::string& key) = 0;
    virtual void Write(const std::string& section, const std::string& key,
                       const std::string& value) = 0;
};

// The modal workspace editor; five fields are locked in a fixed installation.
class WorkspaceEditorHost {
  public:
    virtual ~WorkspaceEditorHost() = default;
    virtual void EditWorkspace(WorkspaceClass& ws, bool fixedInstall) = 0;
};

struct ProgramFacts {
    ProgramLocation location; // application folder and program name
    std::string commandLine;  // the arguments, joined by blanks
    int versionMajor = 0, versionMinor = 0, versionRevision = 0;
    RegionalSettings regional;
};

// Makes a window-thread timer that calls tick at every timeout; precise
// for the log timer.
using TimerMaker = std::function<std::unique_ptr<Timer>(std::function<void()> tick, bool precise)>;

// Everything the controller reaches beyond its view; the controller needs
// every seam. MainFrm serves those left empty (nullptr, no timer maker) with
// its own Qt ones before it makes the controller.
struct MainFrameServices {
    MessageBoxes* boxes;
    FileDialogService* fileDialogs;
    WorkspaceEditorHost* editor;
    SizeSettings& sizes;
    ShellOpener& shell;
    SpecialFolderSource& specialFolders;
    BusDriver& bus;
    AsciiDriver& ascii;
    UsbDriver& usb; // probed at start-up
    Clock& clock;
    ProgramFacts facts;
    TimerMaker timers;
};

inline constexpr const char* MakerWebSite = "https://www.vexa-instruments.example/";

class MainFrameLogic {
  public:
    MainFrameLogic(MainWindowSurface& view, MainFrameServices services);
    MainFrameLogic(const MainFrameLogic&) = delete;
    MainFrameLogic& operator=(const MainFrameLogic&) = delete;

    // The start-up sequence; false when the program must end at once.
    bool Startup();
    // The close request; true cancels the close.
    bool QueryUnload();
    void Unload();

    void SetupDisplays();
    // --- the commands ---
    void OpenWorkspace();
    void SaveWorkspace();
    void ConfigureWorkspace();
    void LogoClicked();
    void StartStopLogging() { m_core.DoLogging(); }
    void ViewLastLog() { m_core.ViewLastLog(); }
    void Retry() { m_core.mnuRetry_Click(); }
    // The Zero button of tile index.
    void Tare(int index) { m_core.Tare(index); }

    // --- window geometry ---
    // The window was resized: the container fills its inner area.
    void FormResize();
    // The window frame appeared or changed after set-up (window managers
    // decorate a window only once it is shown): measure it again and fit
    // the window around the tiles as set-up does.
    void FrameChanged();
    static int32_t HitTest(int32_t hitCode);
    // The proposed window rectangle in screen pixels, changed to the snapped one.
    void Resizing(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2, int16_t draggedBorder);

    MainWindowState& State() { return m_state; }
    WorkspaceClass& Workspace() { return m_ws; }
    LoggerCore& Core() { return m_core; }
    const MainFrameServices& Services() const { return m_s; }
    bool ScreenTimerActive() const { return m_screenTimer->IsActive(); }
    const AppFolders& Folders() const { return m_folders; }
    // The folder the log file dialog starts in.
    std::string LogFolder() const;
    // Valid after Startup: the dialogs that remember their folder and name.
    FileChooser& Chooser() { return *m_chooser; }

  private:
    class LogChooser : public LogFileChooser {
      public:
        explicit LogChooser(MainFrameLogic& logic) : m_logic(logic) {}
        std::string ChooseLogFile() override { return m_logic.Chooser().ChooseLogFile(); }

      private:
        MainFrameLogic& m_logic;
    };
    class Settings : public SettingsReader {
      public:
        explicit Settings(MainFrameLogic& logic) : m_logic(logic) {}
        std::string ReadSetting(const std::string& section, const std::string& key,
                                const std::string& defaultValue) override;

      private:
        MainFrameLogic& m_logic;
    };

    bool CheckUsbDriver();
    void Load(const std::string& path);
    bool Save(const std::string& path);
    void ClosePort();
    void ChooseWorkspace();
    void RebuildWithFreeze();
    void MeasureFrame();
    void FitWindowToTiles(TwipSize tc);
    // Sizes the window (outer size) and has the container fill it.
    void SetWindowSize(TwipSize outer);
    void FillWindow();
    TwipSize SavedSize();

    MainWindowSurface& m_view;
    MainFrameServices m_s;
    MainWindowState m_state;
    WorkspaceClass m_ws;
    ProtocolModule m_protocol;
    std::unique_ptr<Timer> m_screenTimer;
    std::unique_ptr<Timer> m_retryTimer;
    std::unique_ptr<Timer> m_logTimer;
    LogChooser m_logChooser{*this};
    Settings m_settings{*this};
    LoggerCore m_core;
    AppFolders m_folders;
    std::unique_ptr<FileChooser> m_chooser;
    // Fitting the window or its container: the resizes this causes need
    // no fitting of their own.
    bool m_fitting = false;
};

// "Title - Program", or the bare title in a fixed installation.
std::string WindowCaption(const std::string& title, const std::string& programName,
                          bool fixedInstall);
// The workspace path a command line names, or empty when it names none.
std::string CommandLineWorkspace(const std::string& commandLine);
