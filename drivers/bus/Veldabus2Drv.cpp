// Entry points of the Veldabus2Drv library.
#include "BusTransact.h"
#include "DriverEntry.h"

#include <cstdint>

using vexa_serial::Guarded;
using vexa_serial::LibraryPort;

namespace {

int16_t Run(veldabus::RequestKind kind, int16_t station, int16_t command, float* value) {
    return Guarded<int16_t>(-999, [&] {
        auto& port = LibraryPort();
        return veldabus::Transact(port.Line(), port.Clock(), port.Timeout(), kind, station, command,
                                  value);
    });
}

} // namespace

VEXA_DRIVER_ENTRY int16_t VEXA_CALL READCOMMAND(int16_t station, int16_t command, float* value) {
    return Run(veldabus::RequestKind::Read, station, command, value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL WRITECOMMAND(int16_t station, int16_t command, float value) {
    return Run(veldabus::RequestKind::Write, station, command, &value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL EXECUTECOMMAND(int16_t station, int16_t command) {
    return Run(veldabus::RequestKind::Execute, station, command, nullptr);
}
