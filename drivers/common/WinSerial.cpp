#include "SerialDevice.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>

namespace vexa_serial {

namespace {

class PerformanceClock final : public MonotonicClock {
  public:
    PerformanceClock() { QueryPerformanceFrequency(&m_frequency); }
    int64_t NowMicros() override {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        // Split, so the product cannot overflow after a long uptime.
        const int64_t f = m_frequency.QuadPart;
        return now.QuadPart / f * 1000000 + now.QuadPart % f * 1000000 / f;
    }
    void SleepMicros(int64_t micros) override {
        // Sleep counts whole milliseconds and may wake early by a tick.
        const int64_t until = NowMicros() + micros;
        for (int64_t left = micros; left > 0; left = until - NowMicros())
            Sleep(static_cast<DWORD>((left + 999) / 1000));
    }

  private:
    LARGE_INTEGER m_frequency{};
};

// A line that takes no byte within a second is broken.
constexpr DWORD kWriteTimeoutMs = 1000;

// The claim on a port by name, held as long as the port is open. Windows
// refuses a second open of a COM port by itself; Wine's COM ports are
// shareable, so the drivers hold a named object as well, which every
// library in every program of the session sees.
HANDLE ClaimPort(const std::string& path) {
    std::string name = "Local\\VexaSerialPort.";
    for (char c : path.substr(path.find_last_of("\\/") + 1))
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const HANDLE claim = CreateMutexA(nullptr, FALSE, name.c_str());
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

class ComLine final : public SerialLine {
  public:
    ComLine(HANDLE handle, HANDLE claim) : m_handle(handle), m_claim(claim) {}
    ~ComLine() override { Close(); }

    // The read time-outs are set here, once: a read returns at once with
    // what is queued, else with the first byte that arrives, else after
    // the time-out. Reads of queued bytes never wait under them.
    bool SetTimeouts(DWORD readMs) {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = readMs;
        t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        if (!SetCommTimeouts(m_handle, &t)) return false;
        m_readTimeoutMs = readMs;
        return true;
    }

    long ReadQueued(uint8_t* dst, size_t max) override {
        if (m_handle == INVALID_HANDLE_VALUE) return -1;
        if (max == 0) return 0;
        size_t done = 0;
        if (m_lookahead >= 0) {
            dst[done++] = static_cast<uint8_t>(m_lookahead);
            m_lookahead = -1;
        }
        DWORD queued = 0;
        // A failure after the byte the wait took is reported on the next call.
        if (!Queued(queued)) return done ? static_cast<long>(done) : -1;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(queued, max - done));
        if (want == 0) return static_cast<long>(done);
        DWORD got = 0;
        if (!ReadFile(m_handle, dst + done, want, &got, nullptr))
            return done ? static_cast<long>(done) : -1;
        return static_cast<long>(done + got);
    }

    bool Write(std::span<const uint8_t> bytes) override {
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 16));
            if (!WriteFile(m_handle, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0)
                return false;
            done += wrote;
        }
        return true;
    }

    WaitResult WaitReadable(int64_t micros) override {
        if (m_handle == INVALID_HANDLE_VALUE) return WaitResult::Failed;
        if (m_lookahead >= 0) return WaitResult::Readable;
        DWORD queued = 0;
        if (!Queued(queued)) return WaitResult::Failed;
        if (queued > 0) return WaitResult::Readable;
        // The system blocks the read until a byte comes or the time is up.
        // Rounded up, so the wait never ends just before a reply's deadline.
        const DWORD ms = static_cast<DWORD>(std::clamp<int64_t>((micros + 999) / 1000, 1, 1 << 30));
        if (ms != m_readTimeoutMs && !SetTimeouts(ms)) return WaitResult::Failed;
        uint8_t byte = 0;
        DWORD got = 0;
        if (!ReadFile(m_handle, &byte, 1, &got, nullptr)) return WaitResult::Failed;
        if (got == 0) return WaitResult::TimedOut;
        m_lookahead = byte;
        return WaitResult::Readable;
    }

    bool Close() override {
        if (m_handle == INVALID_HANDLE_VALUE) return true;
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        m_lookahead = -1;
        const bool closed = CloseHandle(handle) != 0;
        CloseHandle(m_claim);
        return closed;
    }

  private:
    bool Queued(DWORD& count) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle, &errors, &status)) return false;
        count = status.cbInQue;
        return true;
    }

    HANDLE m_handle;
    HANDLE m_claim;
    // The byte a wait has taken from the line, handed out by the next read.
    int m_lookahead = -1;
    DWORD m_readTimeoutMs = 0;
};

// One setting: read the device control block, change one field, write it
// back.
bool ChangeSetting(HANDLE handle, const std::function<void(DCB&)>& change) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return false;
    change(dcb);
    return SetCommState(handle, &dcb) != 0;
}

// One queue size; the other stays as the port has it.
bool ChangeQueue(HANDLE handle, DWORD rx, DWORD tx) {
    COMMPROP props{};
    if (!GetCommProperties(handle, &props)) return false;
    return SetupComm(handle, rx ? rx : props.dwCurrentRxQueue, tx ? tx : props.dwCurrentTxQueue) !=
           0;
}

bool ApplyLineSettings(HANDLE handle, int32_t baud) {
    bool ok = true;
    ok &= baud > 0 && ChangeSetting(handle, [&](DCB& d) { d.BaudRate = static_cast<DWORD>(baud); });
    // 8 data bits, no parity; every byte passed through unchanged.
    ok &= ChangeSetting(handle, [](DCB& d) {
        d.ByteSize = 8;
        d.Parity = NOPARITY;
        d.fParity = FALSE;
        d.fBinary = TRUE;
        d.fNull = FALSE;
        d.fErrorChar = FALSE;
        d.fAbortOnError = FALSE;
    });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fParity = FALSE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.StopBits = ONESTOPBIT; });
    ok &= ChangeQueue(handle, 0, 128);
    ok &= ChangeQueue(handle, 4096, 0);
    ok &= ChangeSetting(handle, [](DCB& d) { d.fOutxCtsFlow = FALSE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fOutxDsrFlow = FALSE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fDsrSensitivity = FALSE; });
    // DTR handshake off without dropping the line first: some instruments
    // reset when DTR falls.
    ok &= ChangeSetting(handle, [](DCB& d) {
        if (d.fDtrControl == DTR_CONTROL_HANDSHAKE) d.fDtrControl = DTR_CONTROL_ENABLE;
    });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fDtrControl = DTR_CONTROL_ENABLE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fRtsControl = RTS_CONTROL_DISABLE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fInX = FALSE; });
    ok &= ChangeSetting(handle, [](DCB& d) { d.fOutX = FALSE; });
    return ok;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

MonotonicClock& SystemClock() {
    static PerformanceClock clock;
    return clock;
}

std::string PortDevicePath(int port) {
    if (port < 1) return {};
    // The device namespace reaches COM10 and above as well.
    return "\\\\.\\COM" + std::to_string(port);
}

std::string UsbDirectory() {
    if (const char* dir = std::getenv("VEXA_USB_DIR"); dir && *dir) return dir;
    const char* local = std::getenv("LOCALAPPDATA");
    return std::string(local ? local : ".") + "\\vexa\\usb";
}

std::string UsbDevicePath(int32_t serialNumber) {
    std::ifstream entry(UsbDirectory() + "\\" + std::to_string(serialNumber));
    std::string port;
    if (!entry || !std::getline(entry, port)) return {};
    port = Trimmed(port);
    if (port.size() > 3 && _strnicmp(port.c_str(), "COM", 3) == 0) return "\\\\.\\" + port;
    return port;
}

int16_t OpenSerialDevice(const std::string& path, int32_t baud, std::unique_ptr<SerialLine>& out) {
    out.reset();
    if (path.empty()) return -2;
    const HANDLE claim = ClaimPort(path);
    if (!claim) return -2;
    // No sharing: the port is held exclusively until closed. Not inherited,
    // so a program started from here cannot keep the port busy.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        CloseHandle(claim);
        return -2;
    }
    auto line = std::make_unique<ComLine>(handle, claim);
    if (GetFileType(handle) != FILE_TYPE_CHAR) return -2;
    if (!ApplyLineSettings(handle, baud)) return -1;
    if (!line->SetTimeouts(1)) return -1;
    PurgeComm(handle, PURGE_RXCLEAR);
    if (!FlushInput(*line)) return -1;
    out = std::move(line);
    return 0;
}

} // namespace vexa_serial
