#include "UsbInstruments.h"

#include "AsciiTransact.h"
#include "SerialDevice.h"

#include <sys/stat.h>

namespace vexa_usb {

int16_t UsbInstruments::Open() {
    Close();
    struct stat st {};
    const std::string dir = vexa_serial::UsbDirectory();
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -2;
    m_open = true;
    return 0;
}

int16_t UsbInstruments::Close() {
    bool ok = true;
    for (auto& [serial, held] : m_lines)
        ok &= vexa_serial::FlushInput(*held.line) && held.line->Close();
    m_lines.clear();
    m_open = false;
    return ok ? 0 : -2;
}

int16_t UsbInstruments::Transact(velda_ascii::RequestKind kind, int32_t serialNumber,
                                 const char* command, float* value, int timeoutMs) {
    if (serialNumber < 1 || !command) return -1;
    if (!m_open) return -2;
    auto it = m_lines.find(serialNumber);
    if (it == m_lines.end()) {
        std::unique_ptr<vexa_serial::SerialLine> line;
        const int16_t rc =
            vexa_serial::OpenSerialDevice(vexa_serial::UsbDevicePath(serialNumber), kUsbBaud, line);
        if (rc != 0) return rc;
        it = m_lines.emplace(serialNumber, Held{std::move(line), {}}).first;
    }
    const int16_t rc = velda_ascii::TransactStation(
        *it->second.line, vexa_serial::SystemClock(), timeoutMs, kind, 0,
        velda_ascii::AfterSend::AwaitReply, command, value, &it->second.guard);
    if (rc == -100) m_lines.erase(it);
    return rc;
}

} // namespace vexa_usb
