// The logging core over the shared seam fakes, with the dialogs and
// settings a logging run asks.
#pragma once

#include "workspace/Workspace.h"

#include "support/FakeMessageBoxes.h"
#include "support/SeamFakes.h"

#include <gtest/gtest.h>

// A logger core over fakes: channels 1..n at stations 1..n. It is also the
// dialogs, the settings and the shell a logging run asks.
struct CoreRig : LogFileChooser, SettingsReader, ShellOpener {
    explicit CoreRig(int channels, int16_t protocolIndex = ProtocolVeldaBus,
                     BusDriver* busDriver = nullptr)
        : protocol(workspace, busDriver ? *busDriver : drivers, drivers, drivers),
          core(workspace, state, protocol, RegionalSettings::point(),
               CoreSeams{window, boxes, autoRetryTimer, logTimer, clock, *this, *this, *this}) {
        workspace.Channels = static_cast<int16_t>(channels);
        workspace.Port = 1;
        workspace.Baudrate = 115200;
        workspace.Protocol = protocolIndex;
        workspace.LogInterval = 1000;
        for (int i = 1; i <= channels; ++i) {
            workspace.Items.push_back(DefaultChannelItem(i));
            window.titles.push_back(workspace.Items.back().Caption);
        }
        screenTimer.onTick = [this] { core.ScreenTimer_Timer(); };
        autoRetryTimer.onTick = [this] { core.AutoRetryTimer_Timer(); };
        logTimer.onTick = [this] { core.LogTimerFired(); };
    }
    // Every station answers with the reading station * 1.5.
    void AllAnswer() {
        for (int i = 1; i <= workspace.Channels; ++i)
            drivers.values[workspace.Items[i - 1].Station] = i * 1.5f;
    }
    // Every station answers, and logging runs into a fresh file of that name.
    void StartLogging(const std::string& fileName) {
        AllAnswer();
        path = ::testing::TempDir() + fileName;
        core.DoLogging();
    }
    void Read(int16_t index) { core.ReadValues(index); }
    // Which channels are in error ("E") and which not (".").
    std::string Errors() const {
        std::string errors;
        for (int i = 1; i <= workspace.Channels; ++i)
            errors += state.CommsError[i] ? 'E' : '.';
        return errors;
    }
    // What the tiles show, with "(red)" on a red one.
    std::string Tiles() {
        std::string shown;
        for (auto& [i, tile] : window.tiles)
            shown += (i > 1 ? " " : "") + tile;
        return shown;
    }
    // Fires every timer due in the next ms, in time order, like an event
    // loop whose handlers take no time unless they move the clock.
    void RunFor(double ms) {
        const double end = clock.now + ms;
        for (;;) {
            FakeTimer* next = nullptr;
            for (auto* t : {&screenTimer, &autoRetryTimer, &logTimer})
                if (t->active && t->due <= end && (!next || t->due < next->due)) next = t;
            if (!next) break;
            clock.now = std::max(clock.now, next->due);
            next->due += next->interval;
            if (next->onTick) next->onTick();
        }
        clock.now = std::max(clock.now, end);
    }

    WorkspaceClass workspace;
    MainWindowState state;
    FakeDrivers drivers;
    FakeWindow window;
    RecordingBoxes boxes;
    VirtualClock clock;
    FakeTimer screenTimer{clock}, autoRetryTimer{clock}, logTimer{clock};
    ProtocolModule protocol;
    LoggerCore core;

    std::string path;                          // the log file "chosen"
    int asked = 0;                             // times the dialog was shown
    std::map<std::string, std::string> values; // "Section/Key"
    std::vector<std::string> opened;           // files opened in the shell
    std::string ChooseLogFile() override {
        ++asked;
        return path;
    }
    std::string ReadSetting(const std::string& section, const std::string& key,
                            const std::string& def) override {
        auto v = values.find(section + "/" + key);
        return v == values.end() ? def : v->second;
    }
    void OpenFile(const std::string& file) override { opened.push_back(file); }
};
