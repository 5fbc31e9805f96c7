// The binding both serial driver libraries share: the same entries, told
// apart only by the type of their command argument.
#pragma once

#include "VexaDriver.h"
#include "comm/DriverLibrary.h"

#include <cstdint>
#include <memory>
#include <string>

// The entry types of the library whose commands are of type Command.
template <typename Command> struct SerialEntryTypes;
template <> struct SerialEntryTypes<int16_t> {
    using Read = VexaBusReadFn;
    using Execute = VexaBusExecuteFn;
};
template <> struct SerialEntryTypes<const char*> {
    using Read = VexaAsciiReadFn;
    using Execute = VexaAsciiExecuteFn;
};

template <typename Interface, typename Command> class SerialBinding : public Interface {
  public:
    SerialBinding(const char* libraryName, const std::string& folder)
        : m_library(libraryName, folder) {}

    int16_t OPENPORT(int16_t port, int32_t baud) override { return (*m_open)(port, baud); }
    int16_t CLOSEPORT() override { return (*m_close)(); }
    int16_t READCOMMAND(int16_t station, Command command, float* value) override {
        return (*m_read)(station, command, value);
    }
    int16_t EXECUTECOMMAND(int16_t station, Command command) override {
        return (*m_execute)(station, command);
    }
    int16_t SETTIMEOUT(int16_t milliseconds) override { return (*m_timeout)(milliseconds); }

  private:
    DriverLibrary m_library;
    LazyEntry<VexaOpenPortFn> m_open{m_library, "OPENPORT"};
    LazyEntry<VexaClosePortFn> m_close{m_library, "CLOSEPORT"};
    LazyEntry<typename SerialEntryTypes<Command>::Read> m_read{m_library, "READCOMMAND"};
    LazyEntry<typename SerialEntryTypes<Command>::Execute> m_execute{m_library, "EXECUTECOMMAND"};
    LazyEntry<VexaSetTimeoutFn> m_timeout{m_library, "SETTIMEOUT"};
};

// The process-wide binding of a library where the program finds it, and
// bindings of their own over another folder.
template <typename Interface, typename Command> Interface& SharedSerialBinding(const char* name) {
    // Deliberately never destroyed: the library stays loaded to the end.
    static auto* binding =
        new SerialBinding<Interface, Command>(name, DriverLibrary::FolderFor(name));
    return *binding;
}
template <typename Interface, typename Command>
std::unique_ptr<Interface> SerialBindingFrom(const char* name, const std::string& folder) {
    return std::make_unique<SerialBinding<Interface, Command>>(name, folder);
}
