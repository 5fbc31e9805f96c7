#include "DriverEntry.h"

namespace vexa_serial {

namespace {

// Created and destroyed by the load and unload hooks, never by static
// initialisation order.
DriverPort* g_port = nullptr;

__attribute__((constructor)) void OnLibraryLoad() {
    g_port = new DriverPort; // reply time-out 300 ms
}

__attribute__((destructor)) void OnLibraryUnload() {
    if (!g_port) return;
    g_port->ClosePort();
    delete g_port;
    g_port = nullptr;
}

} // namespace

DriverPort& LibraryPort() {
    // Entry points called during another library's unload still find a state.
    if (!g_port) g_port = new DriverPort;
    return *g_port;
}

} // namespace vexa_serial
