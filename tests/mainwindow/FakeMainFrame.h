// Fakes of the controller's view and services: they record what the
// controller asks for and answer from scripts, on a virtual clock.
#pragma once

#include "../support/FakeMessageBoxes.h"
#include "../support/ScratchFolder.h"
#include "MainFrameLogic.h"
#include "workspace/WorkspaceFile.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeClock : Clock {
    double now = 5000;
    double MonotonicMs() override { return now; }
    LocalDateTime Now() override { return {2026, 12, 7, 3, 0, 0}; }
};

struct FakeTimer : Timer {
    std::function<void()> tick;
    bool active = false;
    int32_t interval = 0;
    int stops = 0;
    void Start(int32_t ms) override {
        active = true;
        interval = ms;
    }
    void Stop() override {
        active = false;
        ++stops;
    }
    bool IsActive() const override { return active; }
};

// The view as the controller sees it; tiles are laid out in rows as wide as fit.
struct FakeView : MainWindowSurface {
    explicit FakeView(FakeClock& clock) : clock(clock) {}
    FakeClock& clock;
    std::vector<std::string> log; // the order of the calls that matter
    std::string caption, version, logoTooltip, logo, logLabel;
    std::map<MenuItem, bool> visible;
    std::map<MenuCommand, bool> enabled;
    std::map<int, std::pair<std::string, std::string>> tiles; // title, value
    std::map<int, uint32_t> tileColour;
    TwipSize outer{16000 + 120, 4000 + 1000}, frame{120, 1000}, container;
    bool minimised = false, inputEnabled = true, busy = false;
    int freezes = 0, releases = 0;

    void SetLogLabel(const std::string& t) override { logLabel = t; }
    void SetBusyPointer(bool b) override { busy = b; }
    void ProcessPendingEvents() override { log.push_back("events"); }
    bool IsShift() override { return false; }
    void EnableMenu(MenuCommand c, bool e) override { enabled[c] = e; }
    std::string TileTitle(int tile) override {
        const auto it = tiles.find(tile);
        return it == tiles.end() ? std::string() : it->second.first;
    }
    void SetTile(int tile, const std::string& value, uint32_t colour) override {
        tiles[tile].second = value;
        tileColour[tile] = colour;
    }
    bool IsMinimised() override { return minimised; }
    void FreezeDrawing() override { ++freezes; }
    void ReleaseDrawing() override { ++releases; }
    void SetCaption(const std::string& c) override { caption = c; }
    void SetMenuVisible(MenuItem e, bool v) override { visible[e] = v; }
    void SetVersionLabel(const std::string& t) override { version = t; }
    void SetLogoTooltip(const std::string& t) override { logoTooltip = t; }
    void SetWindowIcon() override { log.push_back("icon"); }
    bool LoadLogo(const std::string& path) override {
        logo = path;
        return true;
    }
    void RemoveTiles() override {
        tiles.clear();
        log.push_back("remove tiles");
    }
    void CreateTile(int index, const std::string& title, const std::string& value) override {
        tiles[index] = {title, value};
    }
    TwipSize OuterSize() override { return outer; }
    TwipSize InnerSize() override {
        return {outer.width - frame.width, outer.height - frame.height};
    }
    void SetOuterSize(TwipSize s) override {
        outer = s;
        log.push_back("size " + std::to_string(s.width) + "x" + std::to_string(s.height));
    }
    TwipSize LayoutTiles() override {
        log.push_back("layout");
        return PlaceContainer(InnerSize());
    }
    TwipSize PlaceContainer(TwipSize s) override {
        const int n = static_cast<int>(tiles.size());
        const int perRow = std::max<int>(1, s.width / 4050);
        const int rows = (n + perRow - 1) / perRow;
        return container = n == 0 ? TwipSize{2000, 920}
                                  : TwipSize{std::min(n, perRow) * 4050, rows * 1290 + 920};
    }
    void WaitForEvents(double maxMs) override { clock.now += std::min(maxMs, 300.0); }
    void DisableInput() override { inputEnabled = false; }
    void AttachHooks() override { log.push_back("hooks on"); }
    void DetachHooks() override { log.push_back("hooks off"); }
    void ShowWindow() override { log.push_back("show"); }
};

// The three drivers, recording the calls that open, close and time out the
// line as "<driver> <entry> <args>"; the stations in failing do not answer.
struct DriverCalls {
    std::vector<std::string> calls;
    int16_t openResult = 0;
    bool usbMissing = false;
    float reading = 1.5f;
    std::set<int> failing;
    bool Has(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    bool HasPrefix(const std::string& prefix) const {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const std::string& c) { return c.starts_with(prefix); });
    }
};

template <class Driver, class Command> struct FakeSerialDriver : Driver {
    FakeSerialDriver(DriverCalls& d, std::string name) : d(d), name(std::move(name)) {}
    DriverCalls& d;
    std::string name;
    int16_t OPENPORT(int16_t port, int32_t baud) override {
        d.calls.push_back(name + " open " + std::to_string(port) + " " + std::to_string(baud));
        return d.openResult;
    }
    int16_t CLOSEPORT() override {
        d.calls.push_back(name + " close");
        return 0;
    }
    int16_t READCOMMAND(int16_t station, Command, float* value) override {
        *value = d.reading;
        return d.failing.count(station) ? -1 : 0;
    }
    int16_t EXECUTECOMMAND(int16_t, Command) override { return 0; }
    int16_t SETTIMEOUT(int16_t ms) override {
        d.calls.push_back(name + " timeout " + std::to_string(ms));
        return 0;
    }
};

struct FakeUsb : UsbDriver {
    explicit FakeUsb(DriverCalls& d) : d(d) {}
    DriverCalls& d;
    int16_t OPENPORT() override { return d.openResult; }
    int16_t CLOSEPORT() override { return 0; }
    int16_t READCOMMAND(int32_t, const char*, float* value) override {
        *value = 3.5f;
        return 0;
    }
    int16_t EXECUTECOMMAND(int32_t, const char*) override { return 0; }
    int16_t SETTIMEOUT(int16_t) override { return 0; }
    float VERSION() override {
        if (d.usbMissing) throw ProtocolError(ProtocolError::Kind::FileNotFound, "VexaUSBDrv");
        return 1.0f;
    }
};

// Answers each dialog from a script; an empty answer is a cancel.
struct FakeDialogs : FileDialogService {
    std::deque<std::string> answers;
    std::vector<FileDialogRequest> requests;
    FileDialogResult Show(const FileDialogRequest& request) override {
        requests.push_back(request);
        const std::string answer = answers.empty() ? "" : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer.empty() ? FileDialogResult{} : FileDialogResult{true, answer};
    }
};

struct FakeBoxes : RecordingBoxes {
    std::deque<MessageAnswer> answers;
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        RecordingBoxes::show(text, title, icon, buttons);
        const MessageAnswer a = answers.empty() ? MessageAnswer::Ok : answers.front();
        if (!answers.empty()) answers.pop_front();
        return a;
    }
};

struct FakeServices : SpecialFolderSource, WorkspaceEditorHost, ShellOpener, SizeSettings {
    std::string localAppData, documents;
    int edits = 0;
    bool locked = false;
    std::function<void(WorkspaceClass&)> edit;
    std::vector<std::string> opened;
    std::map<std::string, std::string> sizes; // "Size/Width"
    std::string GetSpecialFolder(int number) override {
        return number == CSIDL_LOCAL_APPDATA ? localAppData : documents;
    }
    void EditWorkspace(WorkspaceClass& ws, bool fixedInstall) override {
        ++edits;
        locked = fixedInstall;
        if (edit) edit(ws);
    }
    void OpenFile(const std::string& path) override { opened.push_back(path); }
    std::optional<std::string> Read(const std::string& s, const std::string& k) override {
        const auto it = sizes.find(s + "/" + k);
        return it == sizes.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) override {
        sizes[s + "/" + k] = v;
    }
};

inline WorkspaceClass WorkspaceOf(int channels, const std::string& title = "Untitled",
                                  const std::string& format = "00.000") {
    WorkspaceClass ws;
    ws.Title = title;
    ws.Channels = static_cast<int16_t>(channels);
    ws.Port = 1;
    ws.Baudrate = 9600;
    ws.LogInterval = 1000;
    for (int i = 1; i <= channels; ++i) {
        ws.Items.push_back(DefaultChannelItem(i));
        ws.Items.back().Format = format;
    }
    return ws;
}

// Everything around the controller, the user's and the program's folders
// in one temporary folder that removes itself.
struct Rig {
    std::filesystem::path root = MakeScratchFolder("tarnvik-mw");
    FakeClock clock;
    FakeBoxes boxes;
    FakeDialogs dialogs;
    FakeServices more;
    DriverCalls drivers;
    FakeSerialDriver<BusDriver, int16_t> bus{drivers, "bus"};
    FakeSerialDriver<AsciiDriver, const char*> ascii{drivers, "ascii"};
    FakeUsb usb{drivers};
    std::vector<FakeTimer*> timers; // screen, retry, log
    ProgramFacts facts{
        {(root / "app").string(), "Tarnvik"}, "", 1, 2, 3, RegionalSettings::point()};

    Rig() {
        UsbDriverFault = false;
        for (const char* folder : {"app", "appdata", "documents", "runs"})
            std::filesystem::create_directory(root / folder);
        more.localAppData = (root / "appdata").string();
        more.documents = (root / "documents").string();
        Write("app/libVexaUSBDrv.so", "ELF");
    }
    ~Rig() {
        UsbDriverFault = false;
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(root / name, std::ios::binary) << content;
        return (root / name).string();
    }
    std::string Save(const std::string& name, const WorkspaceClass& ws) const {
        RecordingBoxes quiet;
        SaveWorkspace(ws, (root / name).string(), facts.regional, quiet);
        return (root / name).string();
    }
    std::string SettingsFile() const { return (root / "appdata/Tarnvik/config.ini").string(); }
    // With fake timers unless realTimers.
    MainFrameServices Services(bool realTimers = false) {
        TimerMaker maker = [this](std::function<void()> tick, bool) {
            auto timer = std::make_unique<FakeTimer>();
            timer->tick = std::move(tick);
            timers.push_back(timer.get());
            return timer;
        };
        return {&boxes, &dialogs, &more, more,  more,  more,
                bus,    ascii,    usb,   clock, facts, realTimers ? TimerMaker() : maker};
    }
};
