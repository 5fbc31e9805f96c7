// Seams for front ends without a window (the headless logger, benchmarks):
// tiles are the channel captions, the status label is kept for printing,
// the log file is fixed, there is no settings file and no shell.
#pragma once

#include "core/CoreSeams.h"

#include <functional>
#include <string>

struct WorkspaceClass;

class WindowlessSurface : public WindowSurface {
  public:
    // processEvents runs the front end's pending events.
    WindowlessSurface(const WorkspaceClass& workspace, std::function<void()> processEvents);
    const std::string& Label() const { return m_label; }

    void SetLogLabel(const std::string& text) override { m_label = text; }
    void SetBusyPointer(bool) override {}
    void ProcessPendingEvents() override { m_processEvents(); }
    bool IsShift() override { return false; }
    void EnableMenu(MenuCommand, bool) override {}
    std::string TileTitle(int tile) override;
    void SetTile(int, const std::string&, uint32_t) override {}
    bool IsMinimised() override { return true; }
    void FreezeDrawing() override {}
    void ReleaseDrawing() override {}

  private:
    const WorkspaceClass& m_workspace;
    std::function<void()> m_processEvents;
    std::string m_label;
};

// The "dialog" that always chooses the same log file.
class FixedLogFile : public LogFileChooser {
  public:
    explicit FixedLogFile(std::string path, LogFileMode mode = LogFileMode::Replace)
        : m_path(std::move(path)), m_mode(mode) {}
    std::string ChooseLogFile() override { return m_path; }
    LogFileMode ChosenMode() override { return m_mode; }

  private:
    std::string m_path;
    LogFileMode m_mode;
};

class NoSettings : public SettingsReader {
  public:
    std::string ReadSetting(const std::string&, const std::string&,
                            const std::string& defaultValue) override {
        return defaultValue;
    }
};

class NoShell : public ShellOpener {
  public:
    void OpenFile(const std::string&) override {}
};
