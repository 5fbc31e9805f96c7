// What the main window's logic needs from the window system, as small
// interfaces. Each front end (the desktop program, the headless logger)
// implements them; tests implement them as fakes on a virtual clock.
#pragma once

#include "core/LogFile.h"

#include <cstdint>
#include <string>

// Menu commands whose enabling the logic changes.
enum class MenuCommand {
    Retry,              // "&Retry" (mnuRetry)
    StartLog,           // "&Start Logging" (mnuStartLog)
    StopLog,            // "S&top Logging" (mnuStopLog)
    ConfigureWorkspace, // "Configure &Workspace"
    OpenWorkspace,      // "&Open Workspace"
    ViewLog,            // "&View Last Log" (mnuViewLog)
};

// Colour values as tiles take them (see Workspace colour rules).
constexpr uint32_t ColourRed = 0x000000FF;
constexpr uint32_t ColourSystem3DLight = 0x80000000u + 22;

// The main window as the logic sees it.
class WindowSurface {
  public:
    virtual ~WindowSurface() = default;
    // The status label LogLabel: its text and its tooltip alike.
    virtual void SetLogLabel(const std::string& text) = 0;
    virtual void SetBusyPointer(bool busy) = 0;
    // Runs the events waiting in the window system (timer ticks included).
    virtual void ProcessPendingEvents() = 0;
    // True while a Shift key is held down.
    virtual bool IsShift() = 0;
    virtual void EnableMenu(MenuCommand command, bool enabled) = 0;
    // Tile i (1 to 24): its caption, and the value text and colour it shows.
    virtual std::string TileTitle(int tile) = 0;
    virtual void SetTile(int tile, const std::string& value, uint32_t backColour) = 0;
    // The tooltip of tile i: why its channel is in error, or empty.
    virtual void SetTileTip(int tile, const std::string& tip) {
        (void)tile;
        (void)tip;
    }
    virtual bool IsMinimised() = 0;
    // Freeze drawing of the main window; release it and repaint at once.
    virtual void FreezeDrawing() = 0;
    virtual void ReleaseDrawing() = 0;
};

// A window-thread timer. Stop() of a timer that is not running does nothing;
// Start() of a running one restarts its period.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void Start(int32_t intervalMs) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
    // Starts with a first period of its own, then runs at intervalMs: lets a
    // periodic timer that was stopped for a moment keep its beat. A timer
    // that cannot do this simply restarts.
    virtual void StartAfter(int32_t firstMs, int32_t intervalMs) {
        (void)firstMs;
        Start(intervalMs);
    }
};

struct LocalDateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds on a clock that never jumps (any origin).
    virtual double MonotonicMs() = 0;
    // The present local date and time.
    virtual LocalDateTime Now() = 0;
};

// The system clocks (steady clock, local time).
class SystemClock : public Clock {
  public:
    double MonotonicMs() override;
    LocalDateTime Now() override;
};

// The log file Save As dialog with its remembered folder and name: returns
// the chosen full path, or empty text when cancelled.
class LogFileChooser {
  public:
    virtual ~LogFileChooser() = default;
    virtual std::string ChooseLogFile() = 0;
    // What becomes of a chosen file that already holds data. The dialog has
    // asked before it named such a file, so by default it is emptied.
    virtual LogFileMode ChosenMode() { return LogFileMode::Replace; }
};

// Read access to the settings file ("config.ini").
class SettingsReader {
  public:
    virtual ~SettingsReader() = default;
    virtual std::string ReadSetting(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) = 0;
};

// Asks the platform shell to open a file with its associated application.
// Errors of the shell are the front end's to ignore.
class ShellOpener {
  public:
    virtual ~ShellOpener() = default;
    virtual void OpenFile(const std::string& path) = 0;
};
