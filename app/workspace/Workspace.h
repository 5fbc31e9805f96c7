// The measurement set-up: plain data, no behaviour, no validation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum ProtocolIndex : int16_t { ProtocolVeldaBus = 0, ProtocolASCII = 1, ProtocolUSB = 2 };

struct ItemClass {
    int32_t Station = 0; // station number, or the serial number under USB
    std::string Caption;
    std::string Format;
    float TareValue = 0;
    std::string Command; // empty: the protocol's default read command

    bool operator==(const ItemClass&) const = default;
};

struct WorkspaceClass {
    int16_t Channels = 0;
    std::string Title;
    std::string Notes; // line breaks are CR LF
    int16_t Port = 0;
    int32_t Baudrate = 0;
    int16_t Protocol = 0;
    int16_t Snap = 0;
    std::vector<ItemClass> Items; // Items[i - 1] is channel i
    int32_t LogInterval = 0;
    float LogDefault = 0;

    bool operator==(const WorkspaceClass&) const = default;
};

// The item a channel gets when nothing else is known of it: station N,
// caption "Channel N", format "00.000", no tare, no command.
ItemClass DefaultChannelItem(int position);
