// The USB stand-in's instruments. Each USB instrument is a serial device
// of its own, named by its decimal serial number in the USB folder
// ($VEXA_USB_DIR, default ~/.config/vexa/usb), and speaks the ASCII line
// protocol addressed as station 000 (it answers; nothing is a broadcast).
//
// OPENPORT (no arguments) closes every instrument held, then checks that
// the USB folder exists: 0 when it is a folder, -2 otherwise. It opens no
// device. The first READCOMMAND, WRITECOMMAND or EXECUTECOMMAND for a
// serial number opens that instrument's device exclusively (115200 baud,
// the serial drivers' line settings) and holds it until CLOSEPORT; a call
// that gets no reply (-100) lets the device go, so an instrument plugged in
// again is found anew. Before OPENPORT, after CLOSEPORT, or when the
// serial number has no openable device: -2. A serial number below 1: -1.
#pragma once

#include "AsciiTransact.h"
#include "SerialLine.h"

#include <cstdint>
#include <map>
#include <memory>

namespace vexa_usb {

inline constexpr int32_t kUsbBaud = 115200;

class UsbInstruments {
  public:
    int16_t Open();
    // 0, or -2 when a device failed to close (all are given up anyway).
    int16_t Close();
    int16_t Transact(velda_ascii::RequestKind kind, int32_t serialNumber, const char* command,
                     float* value, int timeoutMs);

  private:
    bool m_open = false;
    struct Held {
        std::unique_ptr<vexa_serial::SerialLine> line;
        velda_ascii::ReplyGuard guard;
    };
    std::map<int32_t, Held> m_lines;
};

} // namespace vexa_usb
