// The library-wide driver state of a loaded library, created when the
// library is loaded and closed when it is unloaded.
#pragma once

#include "DriverPort.h"

namespace vexa_serial {

// The state of this library; valid between load and unload.
DriverPort& LibraryPort();

} // namespace vexa_serial
