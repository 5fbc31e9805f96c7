// Fakes of the logic's seams: drivers that answer from a table, a window
// that records what it is told, and timers on a virtual clock.
#pragma once

#include "CoreSeams.h"
#include "LoggerCore.h"
#include "MessageBox.h"
#include "ProtocolModule.h"
#include "Workspace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

// One call as a driver saw it: "READ 3 10", "EXEC -1 SNAP", "OPEN 1 9600".
using CallLog = std::vector<std::string>;

struct FakeInstruments {
    std::map<int32_t, float> values;  // station -> reading
    std::map<int32_t, int16_t> codes; // station -> failure code
    CallLog calls;
    std::function<void()> onRead; // runs inside every read (time passing)
    // With a clock, reads take time on it: a station answers after its
    // replyMs; one that does not answer within the time-out costs the
    // driver's four attempts.
    double* clockNow = nullptr;
    std::map<int32_t, double> replyMs;
    int16_t timeoutMs = 300;

    int16_t Read(int32_t station, const std::string& command, float* value) {
        calls.push_back("READ " + std::to_string(station) + " " + command);
        if (onRead) onRead();
        auto v = values.find(station);
        const double replyAfter = replyMs.count(station) ? replyMs[station] : 0;
        const bool answers = v != values.end() && replyAfter <= timeoutMs;
        if (clockNow) *clockNow += answers ? replyAfter : 4.0 * timeoutMs;
        if (auto c = codes.find(station); c != codes.end() && c->second != 0) return c->second;
        if (!answers) return -100;
        *value = v->second;
        return 0;
    }
    int16_t SetTimeout(int16_t ms) {
        timeoutMs = ms;
        return Record("TIMEOUT " + std::to_string(ms));
    }
    int16_t Record(const std::string& call) {
        calls.push_back(call);
        return 0;
    }
    int Reads() const {
        return static_cast<int>(std::count_if(
            calls.begin(), calls.end(), [](const auto& c) { return c.rfind("READ", 0) == 0; }));
    }
};

inline std::string CommandText(int16_t command) {
    return std::to_string(command);
}
inline std::string CommandText(const char* command) {
    return command;
}

// Both serial drivers, told apart by the type of their command.
template <typename Interface, typename Command> class FakeSerial : public Interface {
  public:
    explicit FakeSerial(FakeInstruments& i) : m_i(i) {}
    int16_t openResult = 0;
    int16_t OPENPORT(int16_t port, int32_t baud) override {
        m_i.Record("OPEN " + std::to_string(port) + " " + std::to_string(baud));
        return openResult;
    }
    int16_t CLOSEPORT() override { return m_i.Record("CLOSE"); }
    int16_t READCOMMAND(int16_t station, Command command, float* value) override {
        return m_i.Read(station, CommandText(command), value);
    }
    int16_t EXECUTECOMMAND(int16_t station, Command command) override {
        return m_i.Record("EXEC " + std::to_string(station) + " " + CommandText(command));
    }
    int16_t SETTIMEOUT(int16_t ms) override { return m_i.SetTimeout(ms); }

  private:
    FakeInstruments& m_i;
};
using FakeBus = FakeSerial<BusDriver, int16_t>;
using FakeAscii = FakeSerial<AsciiDriver, const char*>;

class FakeUsb : public UsbDriver {
  public:
    explicit FakeUsb(FakeInstruments& i) : m_i(i) {}
    int16_t OPENPORT() override { return m_i.Record("OPEN"); }
    int16_t CLOSEPORT() override { return m_i.Record("CLOSE"); }
    int16_t READCOMMAND(int32_t serial, const char* command, float* value) override {
        return m_i.Read(serial, command, value);
    }
    int16_t EXECUTECOMMAND(int32_t serial, const char* command) override {
        return m_i.Record("EXEC " + std::to_string(serial) + " " + command);
    }
    int16_t SETTIMEOUT(int16_t ms) override { return m_i.SetTimeout(ms); }
    float VERSION() override { return 1.0f; }

  private:
    FakeInstruments& m_i;
};

struct Tile {
    std::string value;
    uint32_t colour = 0;
};

class FakeWindow : public WindowSurface {
  public:
    std::string label;
    std::vector<std::string> labels; // every text the label was given
    bool busy = false;
    int busyChanges = 0;
    bool shift = false;
    bool minimised = false;
    int freezes = 0, releases = 0;
    std::map<MenuCommand, bool> menus;
    std::map<int, Tile> tiles;
    std::map<int, std::string> tips;
    std::vector<std::string> titles; // titles[i - 1] is tile i
    std::function<void()> onEvents;  // what the "pending events" do
    int eventRuns = 0;

    void SetLogLabel(const std::string& text) override {
        label = text;
        labels.push_back(text);
    }
    void SetBusyPointer(bool b) override {
        busy = b;
        ++busyChanges;
    }
    void ProcessPendingEvents() override {
        ++eventRuns;
        if (onEvents) onEvents();
    }
    bool IsShift() override { return shift; }
    void EnableMenu(MenuCommand c, bool e) override { menus[c] = e; }
    std::string TileTitle(int tile) override {
        return tile >= 1 && tile <= static_cast<int>(titles.size()) ? titles[tile - 1] : "";
    }
    void SetTile(int tile, const std::string& value, uint32_t colour) override {
        tiles[tile] = {value, colour};
    }
    void SetTileTip(int tile, const std::string& tip) override { tips[tile] = tip; }
    bool IsMinimised() override { return minimised; }
    void FreezeDrawing() override { ++freezes; }
    void ReleaseDrawing() override { ++releases; }
};

struct Shown {
    std::string text, title;
    MessageIcon icon;
};

class FakeBoxes : public MessageBoxes {
  public:
    std::vector<Shown> shown;
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons) override {
        shown.push_back({text, title, icon});
        return MessageAnswer::Ok;
    }
};

class VirtualClock : public Clock {
  public:
    double now = 0;
    LocalDateTime start{2026, 3, 4, 23, 59, 58};
    double MonotonicMs() override { return now; }
    LocalDateTime Now() override {
        LocalDateTime t = start;
        long seconds = t.hour * 3600L + t.minute * 60 + t.second + static_cast<long>(now / 1000);
        t.day += static_cast<int>(seconds / 86400); // tests stay inside one month
        seconds %= 86400;
        t.hour = static_cast<int>(seconds / 3600);
        t.minute = static_cast<int>(seconds / 60 % 60);
        t.second = static_cast<int>(seconds % 60);
        return t;
    }
};

// A periodic timer on the virtual clock; TimerLoop fires it.
class FakeTimer : public Timer {
  public:
    explicit FakeTimer(VirtualClock& clock) : m_clock(clock) {}
    std::function<void()> onTick;
    int32_t interval = 0;
    double due = 0;
    int starts = 0;
    void Start(int32_t ms) override {
        interval = ms;
        due = m_clock.now + ms;
        active = true;
        ++starts;
    }
    void StartAfter(int32_t first, int32_t ms) override {
        Start(ms);
        due = m_clock.now + first;
    }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    bool active = false;

  private:
    VirtualClock& m_clock;
};

class TimerLoop {
  public:
    TimerLoop(VirtualClock& clock, std::vector<FakeTimer*> timers)
        : m_clock(clock), m_timers(std::move(timers)) {}
    // Fires every timer due before now + ms, in time order, like an event
    // loop whose handlers take no time unless they move the clock.
    void RunFor(double ms) {
        const double end = m_clock.now + ms;
        for (;;) {
            FakeTimer* next = nullptr;
            for (auto* t : m_timers)
                if (t->active && t->due <= end && (!next || t->due < next->due)) next = t;
            if (!next) break;
            m_clock.now = std::max(m_clock.now, next->due);
            next->due += next->interval;
            if (next->onTick) next->onTick();
        }
        m_clock.now = std::max(m_clock.now, end);
    }

  private:
    VirtualClock& m_clock;
    std::vector<FakeTimer*> m_timers;
};

class FakeChooser : public LogFileChooser {
  public:
    std::string path;
    int asked = 0;
    std::string ChooseLogFile() override {
        ++asked;
        return path;
    }
};

class FakeSettings : public SettingsReader {
  public:
    std::map<std::string, std::string> values; // "Section/Key"
    std::string ReadSetting(const std::string& section, const std::string& key,
                            const std::string& def) override {
        auto v = values.find(section + "/" + key);
        return v == values.end() ? def : v->second;
    }
};

class FakeShell : public ShellOpener {
  public:
    std::vector<std::string> opened;
    void OpenFile(const std::string& path) override { opened.push_back(path); }
};

// A logger core over fakes: channels 1..n at stations 1..n.
struct CoreRig {
    explicit CoreRig(int channels, int16_t protocolIndex = ProtocolVeldaBus,
                     RegionalSettings rs = RegionalSettings::point())
        : protocol(workspace, bus, ascii, usb),
          core(
              workspace, state, protocol, rs,
              CoreSeams{window, boxes, autoRetryTimer, logTimer, clock, chooser, settings, shell}) {
        workspace.Channels = static_cast<int16_t>(channels);
        workspace.Title = "Rig";
        workspace.Port = 1;
        workspace.Baudrate = 115200;
        workspace.Protocol = protocolIndex;
        workspace.LogInterval = 1000;
        for (int i = 1; i <= channels; ++i) {
            workspace.Items.push_back(DefaultChannelItem(i));
            window.titles.push_back(workspace.Items.back().Caption);
        }
        state.DecimalComma = rs.decimalSeparator == ',';
        screenTimer.onTick = [this] { core.ScreenTimer_Timer(); };
        autoRetryTimer.onTick = [this] { core.AutoRetryTimer_Timer(); };
        logTimer.onTick = [this] { core.LogTimerFired(); };
    }
    // Every station answers with the reading station * 1.5.
    void AllAnswer() {
        for (int i = 1; i <= workspace.Channels; ++i)
            instruments.values[workspace.Items[i - 1].Station] = i * 1.5f;
    }
    // Every station answers, and logging runs into a fresh file of that name.
    void StartLogging(const std::string& fileName) {
        AllAnswer();
        chooser.path = ::testing::TempDir() + fileName;
        core.DoLogging();
    }
    void FullPass() {
        int16_t index = 0;
        core.ReadValues(index);
    }

    WorkspaceClass workspace;
    MainWindowState state;
    FakeInstruments instruments;
    FakeBus bus{instruments};
    FakeAscii ascii{instruments};
    FakeUsb usb{instruments};
    FakeWindow window;
    FakeBoxes boxes;
    VirtualClock clock;
    FakeTimer screenTimer{clock}, autoRetryTimer{clock}, logTimer{clock};
    FakeChooser chooser;
    FakeSettings settings;
    FakeShell shell;
    ProtocolModule protocol;
    LoggerCore core;
    TimerLoop loop{clock, {&screenTimer, &autoRetryTimer, &logTimer}};
};
