// OPENPORT and CLOSEPORT of the serial-port libraries (port number, baud).
#include "DriverEntry.h"

#include <cstdint>

using vexa_serial::Guarded;
using vexa_serial::LibraryPort;

VEXA_DRIVER_ENTRY int16_t VEXA_CALL OPENPORT(int16_t port, int32_t baud) {
    return Guarded<int16_t>(-2, [&] { return LibraryPort().OpenPort(port, baud); });
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL CLOSEPORT() {
    return Guarded<int16_t>(-2, [] { return LibraryPort().ClosePort(); });
}
