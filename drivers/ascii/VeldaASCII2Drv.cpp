// Entry points of the VeldaASCII2Drv library.
#include "AsciiStream.h"
#include "AsciiTransact.h"
#include "DriverEntry.h"

#include <cstdint>

using vexa_serial::Guarded;
using vexa_serial::LibraryPort;

namespace {

// Lives as long as the library is loaded; starts empty.
velda_ascii::StreamBuffer g_stream;
// Carries what the line may still owe from one call to the next.
velda_ascii::ReplyGuard g_guard;

int16_t Run(velda_ascii::RequestKind kind, int16_t station, const char* command, float* value) {
    return Guarded<int16_t>(-999, [&] {
        auto& port = LibraryPort();
        return velda_ascii::Transact(port.Line(), port.Clock(), port.Timeout(), kind, station,
                                     command, value, &g_guard);
    });
}

} // namespace

VEXA_DRIVER_ENTRY int16_t VEXA_CALL READCOMMAND(int16_t station, const char* command,
                                                float* value) {
    return Run(velda_ascii::RequestKind::Read, station, command, value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL WRITECOMMAND(int16_t station, const char* command,
                                                 float value) {
    return Run(velda_ascii::RequestKind::Write, station, command, &value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL EXECUTECOMMAND(int16_t station, const char* command) {
    return Run(velda_ascii::RequestKind::Execute, station, command, nullptr);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL POLLSTREAM(float* value) {
    return Guarded<int16_t>(-700, [&] { return g_stream.Poll(LibraryPort().Line(), value); });
}

VEXA_DRIVER_ENTRY void VEXA_CALL SENDXON() {
    Guarded<int>(0, [] {
        velda_ascii::SendFlowControl(LibraryPort().Line(), velda_ascii::kXon);
        return 0;
    });
}

VEXA_DRIVER_ENTRY void VEXA_CALL SENDXOFF() {
    Guarded<int>(0, [] {
        velda_ascii::SendFlowControl(LibraryPort().Line(), velda_ascii::kXoff);
        return 0;
    });
}
