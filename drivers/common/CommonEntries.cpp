// Entry points every driver library exports alike: the reply time-out and
// the version. Built into each library with its own VEXA_DRIVER_VERSION.
#include "DriverEntry.h"

#include <cstdint>

#ifndef VEXA_DRIVER_VERSION
#error "each driver library states its version"
#endif

using vexa_serial::Guarded;
using vexa_serial::LibraryPort;

VEXA_DRIVER_ENTRY int16_t VEXA_CALL SETTIMEOUT(int16_t ms) {
    return Guarded<int16_t>(-1, [&] { return LibraryPort().SetTimeout(ms); });
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL GETTIMEOUT() {
    return Guarded<int16_t>(vexa_serial::kDefaultReplyTimeout,
                            [] { return LibraryPort().Timeout(); });
}

VEXA_DRIVER_ENTRY float VEXA_CALL VERSION() {
    return VEXA_DRIVER_VERSION;
}
