// The channel limits every layer works to, and the program-wide USB driver
// flag.
#pragma once

// Channel i uses entry i of the channel arrays; entry 0 is never used.
constexpr int ChannelSlots = 25;
constexpr int MaxChannels = ChannelSlots - 1;

// The USB driver file lies beside the program but could not be loaded.
// Set once at start-up, never cleared.
extern bool UsbDriverFault;
