// Fakes of the controller's view and services: they record what the
// controller asks for and answer from scripts, on a virtual clock.
#pragma once

#include "gui/MainFrameLogic.h"
#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"
#include "workspace/WorkspaceFile.h"

#include <deque>
#include <fstream>
#include <map>
#include <set>

struct FakeTimer : Timer {
    std::function<void()> tick;
    bool active = false;
    int32_t interval = 0;
    void Start(int32_t ms) override {
        active = true;
        interval = ms;
    }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
};

// The view; tiles 4050 x 1290 twips are laid out in rows as wide as fit.
// said holds the texts it was given and the calls that matter, in order.
struct FakeView : MainWindowSurface {
    explicit FakeView(double& clock) : clock(clock) {}
    double& clock;
    std::vector<std::string> said;
    std::map<MenuItem, bool> visible;
    std::map<int, std::pair<std::string, std::string>> tiles; // title, value
    TwipSize outer{16000 + 120, 4000 + 1000}, frame{120, 1000};

    void SetLogLabel(const std::string&) override {}
    void SetBusyPointer(bool) override {}
    void ProcessPendingEvents() override {}
    bool IsShift() override { return false; }
    void EnableMenu(MenuCommand, bool) override {}
    std::string TileTitle(int tile) override { return tiles[tile].first; }
    void SetTile(int tile, const std::string& v, uint32_t) override { tiles[tile].second = v; }
    bool IsMinimised() override { return false; }
    void FreezeDrawing() override {}
    void ReleaseDrawing() override {}
    void SetCaption(const std::string& c) override { said.push_back(c); }
    void SetMenuVisible(MenuItem e, bool v) override { visible[e] = v; }
    void SetVersionLabel(const std::string& t) override { said.push_back(t); }
    void SetLogoTooltip(const std::string& t) override { said.push_back(t); }
    void SetWindowIcon() override {}
    bool LoadLogo(const std::string&) override { return true; }
    void RemoveTiles() override { tiles.clear(); }
    void CreateTile(int i, const std::string& title, const std::string& value) override {
        tiles[i] = {title, value};
    }
    TwipSize OuterSize() override { return outer; }
    TwipSize InnerSize() override {
        return {outer.width - frame.width, outer.height - frame.height};
    }
    void SetOuterSize(TwipSize s) override { outer = s; }
    TwipSize LayoutTiles() override { return PlaceContainer(InnerSize()); }
    TwipSize PlaceContainer(TwipSize s) override {
        const int n = static_cast<int>(tiles.size()), perRow = std::max<int>(1, s.width / 4050);
        return {std::min(n, perRow) * 4050, (n + perRow - 1) / perRow * 1290 + 920};
    }
    void WaitForEvents(double maxMs) override { clock += std::min(maxMs, 300.0); }
    void DisableInput() override {}
    void AttachHooks() override {}
    void DetachHooks() override {}
    void ShowWindow() override { said.push_back("show"); }
};

// The drivers, recording the calls that open, close and time out the line
// as "<driver> <entry> <args>"; the stations in failing do not answer.
struct DriverCalls {
    std::vector<std::string> calls;
    int16_t openResult = 0;
    bool usbMissing = false;
    std::set<int> failing;
    int16_t Note(const std::string& call, int16_t result = 0) {
        calls.push_back(call);
        return result;
    }
};

template <class Driver, class Command> struct FakeSerialDriver : Driver {
    FakeSerialDriver(DriverCalls& d, std::string name) : d(d), name(std::move(name)) {}
    DriverCalls& d;
    std::string name;
    int16_t OPENPORT(int16_t port, int32_t baud) override {
        return d.Note(name + " open " + std::to_string(port) + " " + std::to_string(baud),
                      d.openResult);
    }
    int16_t CLOSEPORT() override { return d.Note(name + " close"); }
    int16_t READCOMMAND(int16_t station, Command, float* value) override {
        *value = 1.5f;
        return d.failing.count(station) ? -1 : 0;
    }
    int16_t EXECUTECOMMAND(int16_t, Command) override { return 0; }
    int16_t SETTIMEOUT(int16_t ms) override {
        return d.Note(name + " timeout " + std::to_string(ms));
    }
};

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
// every reading, the USB driver, and the program's and the user's folders in
// one temporary folder that removes itself.
struct Rig : RecordingBoxes,
             FileDialogService,
             SpecialFolderSource,
             WorkspaceEditorHost,
             ShellOpener,
             SizeSettings,
             Clock,
             UsbDriver {
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
    int16_t OPENPORT() override { return drivers.openResult; }
    int16_t CLOSEPORT() override { return 0; }
    int16_t READCOMMAND(int32_t, const char*, float*) override { return 0; }
    int16_t EXECUTECOMMAND(int32_t, const char*) override { return 0; }
    int16_t SETTIMEOUT(int16_t) override { return 0; }
    float VERSION() override {
        if (drivers.usbMissing) throw ProtocolError(ProtocolError::Kind::FileNotFound, "USB");
        return 1.0f;
    }
    template <class T> static T Take(std::deque<T>& queue) {
        T first = queue.front();
        queue.pop_front();
        return first;
    }

    DriverCalls drivers;
    FakeSerialDriver<BusDriver, int16_t> bus{drivers, "bus"};
    FakeSerialDriver<AsciiDriver, const char*> ascii{drivers, "ascii"};
    std::vector<FakeTimer*> timers; // screen, retry, log
    ProgramFacts facts{{"", "Tarnvik"}, "", 1, 2, 3, RegionalSettings::point()};

    Rig() {
        UsbDriverFault = false;
        facts.location.ApplicationFolder = (root / "app").string();
        for (const char* folder : {"app", "appdata", "documents", "runs"})
            std::filesystem::create_directory(root / folder);
        Write("app/libVexaUSBDrv.so", "ELF");
    }
    ~Rig() {
        UsbDriverFault = false;
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(root / name, std::ios::binary) << content;
        return (root / name).string();
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
            timers.push_back(new FakeTimer);
            timers.back()->tick = std::move(tick);
            return std::unique_ptr<Timer>(timers.back());
        };
        return {this, this, this, *this, *this, *this, bus, ascii, *this, *this, facts, maker};
    }
};
