// Entry points of the VexaUSBDrv library, the stand-in USB driver.
#include "DriverEntry.h"
#include "UsbInstruments.h"

#include <cstdint>

using vexa_serial::Guarded;
using vexa_serial::LibraryPort;

namespace {

vexa_usb::UsbInstruments* g_usb = nullptr;

__attribute__((constructor)) void OnUsbLoad() {
    g_usb = new vexa_usb::UsbInstruments;
}

__attribute__((destructor)) void OnUsbUnload() {
    if (!g_usb) return;
    g_usb->Close();
    delete g_usb;
    g_usb = nullptr;
}

vexa_usb::UsbInstruments& Usb() {
    if (!g_usb) g_usb = new vexa_usb::UsbInstruments;
    return *g_usb;
}

int16_t Run(velda_ascii::RequestKind kind, int32_t serial, const char* command, float* value) {
    return Guarded<int16_t>(-999, [&] {
        return Usb().Transact(kind, serial, command, value, LibraryPort().Timeout());
    });
}

} // namespace

VEXA_DRIVER_ENTRY int16_t VEXA_CALL OPENPORT() {
    return Guarded<int16_t>(-2, [] { return Usb().Open(); });
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL CLOSEPORT() {
    return Guarded<int16_t>(-2, [] { return Usb().Close(); });
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL READCOMMAND(int32_t serialNumber, const char* command,
                                                float* value) {
    return Run(velda_ascii::RequestKind::Read, serialNumber, command, value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL WRITECOMMAND(int32_t serialNumber, const char* command,
                                                 float value) {
    return Run(velda_ascii::RequestKind::Write, serialNumber, command, &value);
}

VEXA_DRIVER_ENTRY int16_t VEXA_CALL EXECUTECOMMAND(int32_t serialNumber, const char* command) {
    return Run(velda_ascii::RequestKind::Execute, serialNumber, command, nullptr);
}
