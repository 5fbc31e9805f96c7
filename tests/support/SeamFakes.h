// Fakes of the seams the logging core and the desktop controller share:
// drivers that answer from a table, a window that records what it is told,
// and timers on a virtual clock.
#pragma once

#include "core/LoggerCore.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The three drivers over one table of instruments. Each call is logged as
// the driver saw it: "READ 3 10", "EXEC -1 SNAP", "OPEN 1 9600".
using CallLog = std::vector<std::string>;
struct FakeDrivers : BusDriver, AsciiDriver, UsbDriver {
    std::map<int32_t, float> values;  // station -> reading
    std::map<int32_t, int16_t> codes; // station -> failure code
    CallLog calls;
    int16_t openResult = 0;
    // With a clock, reads take time on it: a station answers after its
    // replyMs; one that does not answer within the time-out costs the
    // driver's four attempts.
    double* clockNow = nullptr;
    std::map<int32_t, double> replyMs;
    int16_t timeoutMs = 300;

    int16_t Read(int32_t station, const std::string& command, float* value) {
        calls.push_back("READ " + std::to_string(station) + " " + command);
        const bool answers = values.count(station) && replyMs[station] <= timeoutMs;
        if (clockNow) *clockNow += answers ? replyMs[station] : 4.0 * timeoutMs;
        if (codes[station] != 0) return codes[station];
        if (answers) *value = values[station];
        return answers ? 0 : -100;
    }
    int16_t Record(const std::string& call) {
        calls.push_back(call);
        return 0;
    }
    int Count(const std::string& prefix) const {
        return static_cast<int>(std::count_if(
            calls.begin(), calls.end(), [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
    }
    int Reads() const { return Count("READ"); }
    int16_t Exec(int32_t station, const std::string& command) {
        return Record("EXEC " + std::to_string(station) + " " + command);
    }

    int16_t OPENPORT(int16_t port, int32_t baud) override {
        Record("OPEN " + std::to_string(port) + " " + std::to_string(baud));
        return openResult;
    }
    int16_t OPENPORT() override { return Record("OPEN"); }
    int16_t CLOSEPORT() override { return Record("CLOSE"); }
    int16_t SETTIMEOUT(int16_t ms) override {
        timeoutMs = ms;
        return Record("TIMEOUT " + std::to_string(ms));
    }
    int16_t READCOMMAND(int16_t s, int16_t c, float* v) override {
        return Read(s, std::to_string(c), v);
    }
    int16_t READCOMMAND(int16_t s, const char* c, float* v) override { return Read(s, c, v); }
    int16_t READCOMMAND(int32_t s, const char* c, float* v) override { return Read(s, c, v); }
    int16_t EXECUTECOMMAND(int16_t s, int16_t c) override { return Exec(s, std::to_string(c)); }
    int16_t EXECUTECOMMAND(int16_t s, const char* c) override { return Exec(s, c); }
    int16_t EXECUTECOMMAND(int32_t s, const char* c) override { return Exec(s, c); }
    bool usbMissing = false; // the USB library cannot be found
    float VERSION() override {
        if (usbMissing) throw ProtocolError(ProtocolError::Kind::FileNotFound, "USB");
        return 1.0f;
    }
};

template <class Surface> struct FakeWindowOf : Surface {
    std::string label;
    std::vector<std::string> labels; // every text the label was given
    bool busy = false, shift = false, minimised = false;
    int freezes = 0, releases = 0;
    std::map<MenuCommand, bool> menus;
    std::map<int, std::string> tiles; // values, "(red)" on red
    std::map<int, std::string> tips;
    std::vector<std::string> titles; // titles[i - 1] is tile i
    std::function<void()> onEvents;  // what the "pending events" do

    void SetLogLabel(const std::string& text) override { labels.push_back(label = text); }
    void SetBusyPointer(bool b) override { busy = b; }
    void ProcessPendingEvents() override {
        if (onEvents) onEvents();
    }
    bool IsShift() override { return shift; }
    void EnableMenu(MenuCommand c, bool e) override { menus[c] = e; }
    std::string TileTitle(int tile) override { return titles.at(static_cast<size_t>(tile - 1)); }
    void SetTile(int tile, const std::string& value, uint32_t colour) override {
        tiles[tile] = value + (colour == ColourRed             ? "(red)"
                               : colour == ColourSystem3DLight ? ""
                                                               : "(?)");
    }
    void SetTileTip(int tile, const std::string& tip) override { tips[tile] = tip; }
    bool IsMinimised() override { return minimised; }
    void FreezeDrawing() override { ++freezes; }
    void ReleaseDrawing() override { ++releases; }
};
using FakeWindow = FakeWindowOf<WindowSurface>;

struct VirtualClock : Clock {
    double now = 0;
    // 23:59:58 on 4 March 2026; tests stay inside one month.
    double MonotonicMs() override { return now; }
    LocalDateTime Now() override {
        const int s = 86398 + static_cast<int>(now / 1000);
        return {2026, 3, 4 + s / 86400, s % 86400 / 3600, s / 60 % 60, s % 60};
    }
};

// A periodic timer on the virtual clock; a rig fires it.
struct FakeTimer : Timer {
    explicit FakeTimer(VirtualClock& clock) : m_clock(clock) {}
    std::function<void()> onTick;
    int32_t interval = 0;
    double due = 0;
    int starts = 0;
    bool active = false;
    void Start(int32_t ms) override { StartAfter(ms, ms); }
    void StartAfter(int32_t first, int32_t ms) override {
        interval = ms;
        due = m_clock.now + first;
        active = true;
        ++starts;
    }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    VirtualClock& m_clock;
};
