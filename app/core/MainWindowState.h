// The state record shared by the main window's logic. Plain data: every
// field is read and written directly.
#pragma once

#include "base/Channels.h"

#include <array>
#include <cstdint>
#include <string>

struct MainWindowState {
    bool FixedInstall = false;
    int32_t BorderWidth = 0;   // twips
    int32_t CaptionHeight = 0; // twips: caption-and-menu height less 300
    std::array<float, ChannelSlots> Readings{};
    std::array<float, ChannelSlots> NetValues{};
    std::array<bool, ChannelSlots> CommsError{};
    std::string LogFileName; // non-empty exactly while logging
    double ElapsedMs = 0;
    double RowMs = 0;
    float AchievedMs = 0;
    int16_t NextChannel = 0; // -1: the next log tick sends SNAP first
    bool DecimalComma = false;
    bool Closing = false;
    bool FirstScanDone = false;
    bool WorkspaceChanged = false;
};
