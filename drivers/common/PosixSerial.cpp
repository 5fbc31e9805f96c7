#include "SerialDevice.h"

// termios2 (any baud rate) comes from the kernel headers, which clash with
// <termios.h>; nothing here needs the libc variant.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexa_serial {

namespace {

class PosixMonotonicClock final : public MonotonicClock {
  public:
    int64_t NowMicros() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    }
    void SleepMicros(int64_t micros) override {
        if (micros <= 0) return;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t ns = static_cast<int64_t>(now.tv_nsec) + micros * 1000;
        timespec until{now.tv_sec + static_cast<time_t>(ns / 1000000000),
                       static_cast<long>(ns % 1000000000)};
        // Absolute wake-up: a signal cannot stretch the sleep.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
};

std::string ConfigFolder(const char* overrideVar, const char* leaf) {
    if (const char* dir = std::getenv(overrideVar); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/vexa/" + leaf;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/vexa/" + leaf;
}

int RestartOnSignal(const std::function<int()>& call) {
    int rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

class TtyLine final : public SerialLine {
  public:
    explicit TtyLine(int fd) : m_fd(fd) {}
    ~TtyLine() override { Close(); }

    long ReadQueued(uint8_t* dst, size_t max) override {
        if (m_fd < 0) return -1;
        if (max == 0) return 0;
        for (;;) {
            const ssize_t n = ::read(m_fd, dst, max);
            if (n >= 0) return static_cast<long>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return -1;
        }
    }

    bool Write(std::span<const uint8_t> bytes) override {
        if (m_fd < 0) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The output queue is full; a line that does not drain within
                // a second is broken.
                pollfd p{m_fd, POLLOUT, 0};
                const int rc = RestartOnSignal([&] { return ::poll(&p, 1, 1000); });
                if (rc <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
                continue;
            }
            return false;
        }
        return true;
    }

    WaitResult WaitReadable(int64_t micros) override {
        if (m_fd < 0) return WaitResult::Failed;
        // Round up, so the wait never ends just before the reply's deadline.
        const int64_t ms64 = (micros + 999) / 1000;
        const int ms = static_cast<int>(std::min<int64_t>(ms64, 1 << 30));
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, ms);
        if (rc < 0) return errno == EINTR ? WaitResult::TimedOut : WaitResult::Failed;
        if (rc == 0) return WaitResult::TimedOut;
        // A hung-up line (its device unplugged, the far end of a pseudo
        // terminal closed) reports POLLIN as well, yet reads nothing: waiting
        // on it would spin through the whole time-out.
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return WaitResult::Failed;
        if (p.revents & POLLIN) return WaitResult::Readable;
        return WaitResult::Failed;
    }

    bool Close() override {
        if (m_fd < 0) return true;
        const int fd = m_fd;
        m_fd = -1;
        ::flock(fd, LOCK_UN);
        // A pseudo terminal keeps its exclusive flag after the last close,
        // which would refuse the next open of an unprivileged user.
        ::ioctl(fd, TIOCNXCL);
        return ::close(fd) == 0 || errno == EINTR;
    }

  private:
    int m_fd;
};

// One setting: read the current state, change one thing, write it back.
bool ChangeSetting(int fd, const std::function<void(termios2&)>& change) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    change(tio);
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

// A device without modem lines (a pseudo terminal, some USB adapters) has no
// DTR or RTS to drive; that is no failure of the line.
bool ChangeModemLine(int fd, unsigned long request, int bit) {
    if (::ioctl(fd, request, &bit) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

bool SetBaud(termios2& tio, int32_t baud) {
    static constexpr struct {
        int32_t rate;
        unsigned code;
    } kStandard[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    unsigned code = BOTHER;
    for (const auto& s : kStandard)
        if (s.rate == baud) code = s.code;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    return true;
}

bool ApplyLineSettings(int fd, int32_t baud) {
    bool ok = true;
    // A rate of zero would hang the line up; negative rates do not exist.
    ok &= baud > 0 && ChangeSetting(fd, [&](termios2& t) { SetBaud(t, baud); });
    // 8 data bits; this also passes every byte through unchanged (raw).
    ok &= ChangeSetting(fd, [](termios2& t) {
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR)) | CS8 | CREAD | CLOCAL;
        t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC);
        t.c_oflag &= ~OPOST;
        t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
    });
    ok &= ChangeSetting(fd, [](termios2& t) {
        t.c_cflag &= ~PARENB;
        t.c_iflag &= ~(INPCK | IGNPAR);
    });
    ok &= ChangeSetting(fd, [](termios2& t) { t.c_cflag &= ~CSTOPB; });
    // Transmit 128 and receive 4096 bytes of queue: the kernel sizes its own.
    ok &= ChangeSetting(fd, [](termios2& t) { t.c_cflag &= ~CRTSCTS; }); // CTS output flow off
    // DSR output flow, DSR sensitivity and DTR flow control have no
    // counterpart beyond hardware flow control, which is off.
    ok &= ChangeModemLine(fd, TIOCMBIS, TIOCM_DTR); // DTR raised and held
    ok &= ChangeModemLine(fd, TIOCMBIC, TIOCM_RTS); // RTS held low
    ok &= ChangeSetting(fd, [](termios2& t) { t.c_iflag &= ~IXOFF; });
    ok &= ChangeSetting(fd, [](termios2& t) { t.c_iflag &= ~(IXON | IXANY); });
    return ok;
}

// A USB serial adapter holds received bytes back for its latency timer
// (16 ms on FTDI chips) before handing them on, which caps a request and
// reply at about 16 ms where the wire needs 1.4 ms. Low latency makes the
// ftdi_sio driver set that timer to 1 ms; it stays on after the close. A
// device without the setting (a pseudo terminal, a plain UART) is used as it
// is.
void AskLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY)) return;
    info.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

} // namespace

MonotonicClock& SystemClock() {
    static PosixMonotonicClock clock;
    return clock;
}

std::string PortsDirectory() {
    return ConfigFolder("VEXA_PORTS_DIR", "ports");
}

std::string PortDevicePath(int port) {
    if (port < 1) return {};
    const std::string name = "COM" + std::to_string(port);
    const std::string mapped = PortsDirectory() + "/" + name;
    struct stat st {};
    if (::lstat(mapped.c_str(), &st) == 0) return mapped;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string UsbDirectory() {
    return ConfigFolder("VEXA_USB_DIR", "usb");
}

std::string UsbDevicePath(int32_t serialNumber) {
    return UsbDirectory() + "/" + std::to_string(serialNumber);
}

int16_t OpenSerialDevice(const std::string& path, int32_t baud, std::unique_ptr<SerialLine>& out) {
    out.reset();
    if (path.empty()) return -2;
    const int fd = RestartOnSignal(
        [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return -2;
    auto line = std::make_unique<TtyLine>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return -2;
    // The lock holds against every other open (TIOCEXCL does not stop root);
    // TIOCEXCL keeps out programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return -2;
    if (::ioctl(fd, TIOCEXCL) != 0) return -2;
    if (!ApplyLineSettings(fd, baud)) return -1;
    AskLowLatency(fd);
    ::ioctl(fd, TCFLSH, TCIFLUSH);
    if (!FlushInput(*line)) return -1;
    out = std::move(line);
    return 0;
}

} // namespace vexa_serial
