#include "comm/ProtocolModule.h"

#include "VexaResultText.h"
#include "base/Channels.h"
#include "base/NumberText.h"
#include "workspace/Workspace.h"

#include <cmath>
#include <limits>

namespace {

int16_t StationToInteger(int32_t station) {
    if (station < std::numeric_limits<int16_t>::min() ||
        station > std::numeric_limits<int16_t>::max()) {
        throw ProtocolError(ProtocolError::Kind::Overflow,
                            "Station " + IntegerText(station) + " does not fit a 16-bit integer");
    }
    return static_cast<int16_t>(station);
}

// A command number, or a text that reads as one (rounded half to even).
int16_t CommandToInteger(const CommandArg& command) {
    int64_t number = 0;
    if (const auto* value = std::get_if<int32_t>(&command)) {
        number = *value;
    } else {
        const std::string& text = std::get<std::string>(command);
        // Command texts are written without regard to the regional settings.
        const auto parsed = ParseReal(text, RegionalSettings::point());
        if (!parsed) {
            throw ProtocolError(ProtocolError::Kind::TypeMismatch,
                                "Command \"" + text + "\" is not a command number");
        }
        const auto rounded = ParseRoundedInteger(text, RegionalSettings::point(),
                                                 std::numeric_limits<int16_t>::min(),
                                                 std::numeric_limits<int16_t>::max());
        if (!rounded) {
            throw ProtocolError(ProtocolError::Kind::Overflow,
                                "Command " + text + " does not fit a 16-bit integer");
        }
        number = *rounded;
    }
    if (number < std::numeric_limits<int16_t>::min() ||
        number > std::numeric_limits<int16_t>::max()) {
        throw ProtocolError(ProtocolError::Kind::Overflow,
                            "Command " + IntegerText(number) + " does not fit a 16-bit integer");
    }
    return static_cast<int16_t>(number);
}

std::string CommandToText(const CommandArg& command) {
    if (const auto* value = std::get_if<int32_t>(&command)) return IntegerText(*value);
    return std::get<std::string>(command);
}

bool UsbUsable() {
    return !UsbDriverFault;
}

} // namespace

std::string ResultCodeText(int16_t code) {
    return VexaResultText(code);
}

ProtocolModule::ProtocolModule(const WorkspaceClass& workspace, BusDriver& bus, AsciiDriver& ascii,
                               UsbDriver& usb)
    : m_workspace(workspace), m_bus(bus), m_ascii(ascii), m_usb(usb) {}

ProtocolResult ProtocolModule::ProtocolRead(int32_t station, const CommandArg& command,
                                            float& value) {
    switch (m_workspace.Protocol) {
    case ProtocolVeldaBus: {
        const int16_t s = StationToInteger(station);
        return m_bus.READCOMMAND(s, CommandToInteger(command), &value);
    }
    case ProtocolASCII: {
        const int16_t s = StationToInteger(station);
        return m_ascii.READCOMMAND(s, CommandToText(command).c_str(), &value);
    }
    case ProtocolUSB:
        if (!UsbUsable()) return std::nullopt;
        return m_usb.READCOMMAND(station, CommandToText(command).c_str(), &value);
    default:
        return std::nullopt;
    }
}

ProtocolResult ProtocolModule::ProtocolExecute(int32_t station, const CommandArg& command) {
    switch (m_workspace.Protocol) {
    case ProtocolVeldaBus: {
        const int16_t s = StationToInteger(station);
        return m_bus.EXECUTECOMMAND(s, CommandToInteger(command));
    }
    case ProtocolASCII: {
        const int16_t s = StationToInteger(station);
        return m_ascii.EXECUTECOMMAND(s, CommandToText(command).c_str());
    }
    case ProtocolUSB:
        if (!UsbUsable()) return std::nullopt;
        return m_usb.EXECUTECOMMAND(station, CommandToText(command).c_str());
    default:
        return std::nullopt;
    }
}

ProtocolResult ProtocolModule::ProtocolOpenPort(int16_t port, int32_t baud) {
    switch (m_workspace.Protocol) {
    case ProtocolVeldaBus:
        m_bus.CLOSEPORT();
        return m_bus.OPENPORT(port, baud);
    case ProtocolASCII:
        m_ascii.CLOSEPORT();
        return m_ascii.OPENPORT(port, baud);
    case ProtocolUSB:
        if (!UsbUsable()) return std::nullopt;
        m_usb.CLOSEPORT();
        return m_usb.OPENPORT();
    default:
        return std::nullopt;
    }
}

ProtocolResult ProtocolModule::ProtocolClosePort() {
    switch (m_workspace.Protocol) {
    case ProtocolVeldaBus:
        return m_bus.CLOSEPORT();
    case ProtocolASCII:
        return m_ascii.CLOSEPORT();
    case ProtocolUSB:
        if (!UsbUsable()) return std::nullopt;
        return m_usb.CLOSEPORT();
    default:
        return std::nullopt;
    }
}

void ProtocolModule::ProtocolSetTimeout(int16_t milliseconds) {
    m_timeoutMs = milliseconds;
    SetDriverTimeout(milliseconds);
}

ProtocolResult ProtocolModule::ProtocolProbe(int32_t station, const CommandArg& command,
                                             float& value, int16_t timeoutMs) {
    SetDriverTimeout(timeoutMs);
    struct Restore {
        ProtocolModule& module;
        ~Restore() {
            try {
                module.SetDriverTimeout(module.m_timeoutMs);
            } catch (const ProtocolError&) {
                // The probe's own call failed the same way and is reported.
            }
        }
    } restore{*this};
    return ProtocolRead(station, command, value);
}

void ProtocolModule::SetDriverTimeout(int16_t milliseconds) {
    switch (m_workspace.Protocol) {
    case ProtocolVeldaBus:
        m_bus.SETTIMEOUT(milliseconds);
        break;
    case ProtocolASCII:
        m_ascii.SETTIMEOUT(milliseconds);
        break;
    case ProtocolUSB:
        if (UsbUsable()) m_usb.SETTIMEOUT(milliseconds);
        break;
    default:
        break;
    }
}
