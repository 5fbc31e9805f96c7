// Fakes of the controller's services: they record what the controller asks
// for and answer from scripts, on a virtual clock.
#pragma once

#include "../support/FakeMessageBoxes.h"
#include "../support/ScratchFolder.h"
#include "../support/SeamFakes.h"
#include "MainFrameLogic.h"
#include "workspace/WorkspaceFile.h"

#include <deque>

inline WorkspaceClass WorkspaceOf(int channels, const std::string& title = "Untitled") {
    WorkspaceClass ws;
    ws.Title = title;
    ws.Channels = static_cast<int16_t>(channels);
    ws.Port = 1;
    ws.Baudrate = 9600;
    for (int i = 1; i <= channels; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

// Everything around the controller: the services answering dialogs and boxes
// from scripts (an empty dialog answer cancels), a clock that moves step at
// every reading, drivers whose stations all read 1.5, and the program's and
// the user's folders in one temporary folder that removes itself.
struct Rig : RecordingBoxes,
             FileDialogService,
             SpecialFolderSource,
             WorkspaceEditorHost,
             ShellOpener,
             SizeSettings,
             Clock {
    std::filesystem::path root = MakeScratchFolder("tarnvik-mw");
    std::deque<MessageAnswer> answers;
    std::deque<std::string> dialogAnswers;
    bool locked = false;
    std::vector<std::string> opened;
    std::map<std::string, std::string> sizes; // "Size/Width"
    double now = 5000, step = 0;

    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        RecordingBoxes::show(text, title, icon, buttons);
        return answers.empty() ? MessageAnswer::Ok : Take(answers);
    }
    FileDialogResult Show(const FileDialogRequest&) override {
        const std::string answer = dialogAnswers.empty() ? "" : Take(dialogAnswers);
        return {!answer.empty(), answer};
    }
    std::string GetSpecialFolder(int number) override {
        return (root / (number == CSIDL_LOCAL_APPDATA ? "appdata" : "documents")).string();
    }
    void EditWorkspace(WorkspaceClass&, bool fixedInstall) override { locked = fixedInstall; }
    void OpenFile(const std::string& path) override { opened.push_back(path); }
    std::optional<std::string> Read(const std::string& s, const std::string& k) override {
        const auto it = sizes.find(s + "/" + k);
        return it == sizes.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) override {
        sizes[s + "/" + k] = v;
    }
    double MonotonicMs() override { return now += step; }
    LocalDateTime Now() override { return {2026, 12, 7, 3, 0, 0}; }
    template <class T> static T Take(std::deque<T>& queue) {
        T first = queue.front();
        queue.pop_front();
        return first;
    }

    FakeDrivers drivers;
    VirtualClock timerClock;        // the timers are fired by hand
    std::vector<FakeTimer*> timers; // screen, retry, log
    ProgramFacts facts{{"", "Tarnvik"}, "", 1, 2, 3, RegionalSettings::point()};

    Rig() {
        UsbDriverFault = false;
        facts.location.ApplicationFolder = (root / "app").string();
        for (const char* folder : {"app", "appdata", "documents", "runs"})
            std::filesystem::create_directory(root / folder);
        Write("app/libVexaUSBDrv.so", "ELF");
        for (int station = 1; station <= 30; ++station)
            drivers.values[station] = 1.5f;
    }
    ~Rig() {
        UsbDriverFault = false;
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    void Write(const std::string& name, const std::string& content) const {
        PutFileBytes((root / name).string(), content);
    }
    std::string Save(const std::string& name, const WorkspaceClass& ws) {
        RecordingBoxes quiet;
        SaveWorkspace(ws, (root / name).string(), facts.regional, quiet);
        return (root / name).string();
    }
    std::string SettingsFile() const { return (root / "appdata/Tarnvik/config.ini").string(); }
    MainFrameServices Services() {
        timers.clear();
        TimerMaker maker = [this](std::function<void()> tick, bool) {
            timers.push_back(new FakeTimer(timerClock));
            timers.back()->onTick = std::move(tick);
            return std::unique_ptr<Timer>(timers.back());
        };
        return {this,    this,    this,    *this, *this, *this,
                drivers, drivers, drivers, *this, facts, maker};
    }
};
