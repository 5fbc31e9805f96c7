// The one road from the application to an instrument: every port operation,
// read and command goes to the driver of the current workspace's protocol.
//
// Wiring: a front end creates one ProtocolModule over the current workspace
// and the three library bindings (VeldaBusModule::Library() and its
// siblings) and hands it to the logic. Tests pass fakes of the driver
// interfaces instead.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

struct WorkspaceClass;

// A driver's result code, or nothing when no driver was called (protocol
// index outside 0..2, or USB while UsbDriverFault is set). Callers treat
// the empty result as success: use IsFailure().
using ProtocolResult = std::optional<int16_t>;
inline bool IsFailure(const ProtocolResult& r) {
    return r.has_value() && *r != 0;
}

// A channel command as the logic holds it: a command number or a command text.
using CommandArg = std::variant<int32_t, std::string>;

// Raised to the caller of a dispatch operation; never by a driver.
class ProtocolError : public std::runtime_error {
  public:
    enum class Kind {
        Overflow,     // a station or command number does not fit 16 bits
        TypeMismatch, // a bus command text that is not a number
        FileNotFound, // the driver library is not in the application folder
        LoadFailed,   // the library is there but cannot be loaded or lacks an entry
    };
    ProtocolError(Kind kind, const std::string& what) : std::runtime_error(what), m_kind(kind) {}
    Kind kind() const { return m_kind; }

  private:
    Kind m_kind;
};

// The system's wording for a driver result code ("No response." ...).
std::string ResultCodeText(int16_t code);

// The entries the application calls, per driver. Each real binding loads its
// library at the first call of any entry and keeps it loaded.
class BusDriver {
  public:
    virtual ~BusDriver() = default;
    virtual int16_t OPENPORT(int16_t port, int32_t baud) = 0;
    virtual int16_t CLOSEPORT() = 0;
    virtual int16_t READCOMMAND(int16_t station, int16_t command, float* value) = 0;
    virtual int16_t EXECUTECOMMAND(int16_t station, int16_t command) = 0;
    virtual int16_t SETTIMEOUT(int16_t milliseconds) = 0;
};

class AsciiDriver {
  public:
    virtual ~AsciiDriver() = default;
    virtual int16_t OPENPORT(int16_t port, int32_t baud) = 0;
    virtual int16_t CLOSEPORT() = 0;
    virtual int16_t READCOMMAND(int16_t station, const char* command, float* value) = 0;
    virtual int16_t EXECUTECOMMAND(int16_t station, const char* command) = 0;
    virtual int16_t SETTIMEOUT(int16_t milliseconds) = 0;
};

class UsbDriver {
  public:
    virtual ~UsbDriver() = default;
    virtual int16_t OPENPORT() = 0;
    virtual int16_t CLOSEPORT() = 0;
    virtual int16_t READCOMMAND(int32_t serialNumber, const char* command, float* value) = 0;
    virtual int16_t EXECUTECOMMAND(int32_t serialNumber, const char* command) = 0;
    virtual int16_t SETTIMEOUT(int16_t milliseconds) = 0;
    virtual float VERSION() = 0;
};

// Reads the workspace's Protocol at every call. May throw ProtocolError.
class ProtocolModule {
  public:
    ProtocolModule(const WorkspaceClass& workspace, BusDriver& bus, AsciiDriver& ascii,
                   UsbDriver& usb);

    // value is written by the driver only on success.
    ProtocolResult ProtocolRead(int32_t station, const CommandArg& command, float& value);
    ProtocolResult ProtocolExecute(int32_t station, const CommandArg& command);
    // Closes the protocol's port first (that code is ignored), then opens it.
    ProtocolResult ProtocolOpenPort(int16_t port, int32_t baud);
    ProtocolResult ProtocolClosePort();
    // The reply time-out of every read from now on.
    void ProtocolSetTimeout(int16_t milliseconds);
    // The time-out last set, or the serial drivers' own before any was.
    int16_t ReplyTimeout() const { return m_timeoutMs; }
    // A read with a time-out of its own (the driver's attempts each wait
    // that long); the reply time-out is set back afterwards, also when the
    // read throws.
    ProtocolResult ProtocolProbe(int32_t station, const CommandArg& command, float& value,
                                 int16_t timeoutMs);

  private:
    void SetDriverTimeout(int16_t milliseconds);

    const WorkspaceClass& m_workspace;
    BusDriver& m_bus;
    AsciiDriver& m_ascii;
    UsbDriver& m_usb;
    int16_t m_timeoutMs = 300;
};
