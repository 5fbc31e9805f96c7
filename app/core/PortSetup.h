// The channel set-up step both front ends take once a workspace is loaded:
// open its port and set the driver's reply time-out. Each front end tells
// the operator in its own way.
#pragma once

#include <cstdint>
#include <string>

class ProtocolModule;
struct WorkspaceClass;

inline constexpr int16_t ReplyTimeoutMs = 1000;
// The period of the screen refresh, started once the channels are set up.
inline constexpr int32_t ScreenTimerMs = 333;

// "Cannot open COM<port>!" with what to do about it.
std::string CannotOpenPortText(int16_t port);

struct PortSetup {
    bool opened = false; // the driver took the port
    // Empty when the port is open with its time-out; else why not: the
    // refusal text, or the driver layer's own error (a missing library).
    std::string fault;
};

// Opens the workspace's port, then sets the reply time-out even when the
// port stayed shut, so a later retry reopens it with the right time-out.
PortSetup SetUpPort(ProtocolModule& protocol, const WorkspaceClass& workspace);
