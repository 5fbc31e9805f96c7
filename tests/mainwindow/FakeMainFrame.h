// Fakes of the main window's seams: they record what the logic asks for and
// answer from scripts, with a virtual clock that advances only when told.
#pragma once

#include "../support/ScratchFolder.h"
#include "MainFrameLogic.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
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
    bool active = false;
    int32_t interval = 0;
    int starts = 0, stops = 0;
    void Start(int32_t ms) override {
        active = true;
        interval = ms;
        ++starts;
    }
    void Stop() override {
        active = false;
        ++stops;
    }
    bool IsActive() const override { return active; }
};

struct FakeSurface : MainWindowSurface {
    explicit FakeSurface(FakeClock& clock) : clock(clock) {}
    FakeClock& clock;
    std::vector<std::string> log; // the order of the calls that matter
    std::string caption = "24 Channel Vexa Logger";
    std::map<MenuItem, bool> visible;
    std::map<MenuCommand, bool> enabled;
    std::string version, logoTooltip, logo, logLabel;
    std::map<int, std::pair<std::string, std::string>> tiles; // title, value
    std::map<int, uint32_t> tileColour;
    TwipSize outer{16000 + 120, 4000 + 1000}, frame{120, 1000};
    TwipSize tileSize{4050, 1290};
    TwipSize container;
    bool minimised = false, inputEnabled = true, busy = false, shown = false;
    int freezes = 0, releases = 0, waits = 0;

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
    void FreezeDrawing() override {
        ++freezes;
        log.push_back("freeze");
    }
    void ReleaseDrawing() override {
        ++releases;
        log.push_back("release");
    }

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
    // Rows of tiles as wide as fit, like the table container.
    TwipSize Arrange(int32_t width) const {
        const int n = static_cast<int>(tiles.size());
        if (n == 0) return {2000, 920};
        const int perRow = std::max<int>(1, width / tileSize.width);
        const int cols = std::min(n, perRow);
        const int rows = (n + perRow - 1) / perRow;
        return {cols * tileSize.width, rows * tileSize.height + 920};
    }
    TwipSize LayoutTiles() override {
        container = Arrange(InnerSize().width);
        log.push_back("layout");
        return container;
    }
    TwipSize PlaceContainer(TwipSize s) override {
        container = Arrange(s.width);
        return container;
    }
    void WaitForEvents(double maxMs) override {
        ++waits;
        clock.now += std::min(maxMs, 300.0);
    }
    void DisableInput() override { inputEnabled = false; }
    void AttachHooks() override { log.push_back("hooks on"); }
    void DetachHooks() override { log.push_back("hooks off"); }
    void ShowWindow() override {
        shown = true;
        log.push_back("show");
    }
};

// The three drivers, recording every call as "<driver> <entry> <args>".
struct DriverCalls {
    std::vector<std::string> calls;
    int16_t openResult = 0;
    bool usbMissing = false;
    float reading = 1.5f;
    std::set<int> failing; // stations that do not answer
    bool Has(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    bool HasPrefix(const std::string& prefix) const {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const std::string& c) { return c.starts_with(prefix); });
    }
};

// A serial driver ("bus" or "ascii") whose command is a number or a text.
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
        if (d.failing.count(station)) return -1;
        *value = d.reading;
        return 0;
    }
    int16_t EXECUTECOMMAND(int16_t, Command) override { return 0; }
    int16_t SETTIMEOUT(int16_t ms) override {
        d.calls.push_back(name + " timeout " + std::to_string(ms));
        return 0;
    }
};
using FakeBus = FakeSerialDriver<BusDriver, int16_t>;
using FakeAscii = FakeSerialDriver<AsciiDriver, const char*>;

struct FakeUsb : UsbDriver {
    explicit FakeUsb(DriverCalls& d) : d(d) {}
    DriverCalls& d;
    int16_t OPENPORT() override {
        d.calls.push_back("usb open");
        return d.openResult;
    }
    int16_t CLOSEPORT() override {
        d.calls.push_back("usb close");
        return 0;
    }
    int16_t READCOMMAND(int32_t, const char*, float* value) override {
        *value = 3.5f;
        return 0;
    }
    int16_t EXECUTECOMMAND(int32_t, const char*) override { return 0; }
    int16_t SETTIMEOUT(int16_t ms) override {
        d.calls.push_back("usb timeout " + std::to_string(ms));
        return 0;
    }
    float VERSION() override {
        d.calls.push_back("usb version");
        if (d.usbMissing)
            throw ProtocolError(ProtocolError::Kind::FileNotFound, "libVexaUSBDrv.so");
        return 1.0f;
    }
};

// Answers each dialog from a script; an empty answer is a cancel.
struct FakeDialogs : FileDialogService {
    std::deque<std::string> answers;
    std::vector<FileDialogRequest> requests;
    FileDialogResult Show(const FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty() || answers.front().empty()) {
            if (!answers.empty()) answers.pop_front();
            return {};
        }
        FileDialogResult r{true, answers.front()};
        answers.pop_front();
        return r;
    }
};

struct FakeSpecialFolders : SpecialFolderSource {
    std::string localAppData, documents;
    std::string GetSpecialFolder(int number) override {
        return number == CSIDL_LOCAL_APPDATA ? localAppData
               : number == CSIDL_PERSONAL    ? documents
                                             : std::string();
    }
};

struct FakeEditor : WorkspaceEditorHost {
    int shown = 0;
    bool locked = false;
    std::function<void(WorkspaceClass&)> edit;
    void EditWorkspace(WorkspaceClass& ws, bool fixedInstall) override {
        ++shown;
        locked = fixedInstall;
        if (edit) edit(ws);
    }
};

struct FakeShell : ShellOpener {
    std::vector<std::string> opened;
    void OpenFile(const std::string& path) override { opened.push_back(path); }
};

struct FakeSizes : SizeSettings {
    std::map<std::pair<std::string, std::string>, std::string> values;
    std::optional<std::string> Read(const std::string& s, const std::string& k) override {
        const auto it = values.find({s, k});
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) override {
        values[{s, k}] = v;
    }
};

struct Shown {
    std::string text, title;
    MessageIcon icon;
    MessageButtons buttons;
};

struct FakeBoxes : MessageBoxes {
    std::vector<Shown> shown;
    std::deque<MessageAnswer> answers;
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        if (answers.empty()) return MessageAnswer::Ok;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool Saw(const std::string& title) const {
        return std::any_of(shown.begin(), shown.end(),
                           [&](const Shown& s) { return s.title == title; });
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
        ItemClass item = DefaultChannelItem(i);
        item.Format = format;
        ws.Items.push_back(item);
    }
    return ws;
}

// A temporary application folder that removes itself.
struct TempFolder {
    std::filesystem::path path = MakeScratchFolder("tarnvik-mw");
    TempFolder() = default;
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Write(const std::string& name, const std::string& content) const {
        const auto p = path / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
};

// The seams around the window that every window test answers alike, with
// the user's folders in temporary places.
struct WindowFakes {
    TempFolder appData, documents;
    FakeBoxes boxes;
    FakeDialogs dialogs;
    FakeEditor editor;
    FakeSizes sizes;
    FakeShell shell;
    FakeSpecialFolders special;
    WindowFakes() {
        special.localAppData = appData.path.string();
        special.documents = documents.path.string();
    }
};
