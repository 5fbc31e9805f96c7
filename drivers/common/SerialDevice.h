// Serial devices of this machine: where a port number or a USB serial
// number leads, and opening such a device exclusively with the drivers'
// fixed line settings. PosixSerial.cpp serves POSIX systems, WinSerial.cpp
// Windows.
#pragma once

#include "SerialLine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vexa_serial {

#ifndef _WIN32
// The folder of COM<N> entries: $VEXA_PORTS_DIR, default
// $XDG_CONFIG_HOME/vexa/ports, then ~/.config/vexa/ports. Whatever links
// ports for the drivers (the simulator) should take it from here.
std::string PortsDirectory();
#endif
// Port N: on Windows \\.\COM<N>. Elsewhere the entry COM<N> of
// PortsDirectory() when it exists, else /dev/ttyS<N-1>. Empty for a port
// number below 1.
std::string PortDevicePath(int port);

// The folder of USB instruments: $VEXA_USB_DIR, default
// $XDG_CONFIG_HOME/vexa/usb, then ~/.config/vexa/usb; on Windows
// %LOCALAPPDATA%\vexa\usb.
std::string UsbDirectory();
// The device of the instrument with this serial number. Elsewhere the entry
// named by the decimal serial number in UsbDirectory(); on Windows, where a
// COM port cannot be linked, that entry is a text file whose first line
// names the instrument's port ("COM7"); empty when that file is missing.
std::string UsbDevicePath(int32_t serialNumber);

// Opens `path` read-write and exclusively (a second open by anyone fails),
// checks it is a character device, then applies 8 data bits, no parity, one
// stop bit, no flow control, DTR raised, RTS low, raw bytes, at `baud`.
// Every setting is attempted. Returns 0 with `out` set; -2 when the device
// cannot be opened (missing, held, not a character device); -1 when a
// setting cannot be applied (the device is closed again).
int16_t OpenSerialDevice(const std::string& path, int32_t baud, std::unique_ptr<SerialLine>& out);

} // namespace vexa_serial
