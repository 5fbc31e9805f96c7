#include "DriverPort.h"

#include "SerialDevice.h"

namespace vexa_serial {

int16_t DriverPort::OpenPort(int port, int32_t baud) {
    return OpenPath(PortDevicePath(port), baud);
}

int16_t DriverPort::OpenPath(const std::string& path, int32_t baud) {
    ClosePort();
    // A line whose close failed is given up now, whatever the close said.
    m_line.reset();
    std::unique_ptr<SerialLine> line;
    const int16_t rc = OpenSerialDevice(path, baud, line);
    if (rc == 0) m_line = std::move(line);
    return rc;
}

int16_t DriverPort::ClosePort() {
    if (!m_line) return 0;
    const bool flushed = FlushInput(*m_line);
    const bool closed = m_line->Close();
    if (!flushed || !closed) return -2;
    m_line.reset();
    return 0;
}

int16_t DriverPort::SetTimeout(int ms) {
    if (ms < kMinReplyTimeout || ms > kMaxReplyTimeout) return -1;
    m_timeout = static_cast<int16_t>(ms);
    return 0;
}

} // namespace vexa_serial
