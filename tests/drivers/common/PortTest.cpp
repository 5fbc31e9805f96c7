// Port handling both serial libraries share: open, close, line settings,
// time-out, version, load and unload.
#include "SerialDevice.h"
#include "support/DriverApi.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace {

// Both serial libraries build their port entries from the same code: the
// ASCII library stands for both, the bus library is the other program.
class PortHandling : public ::testing::Test, protected PortsFixtureBase {
  protected:
    void SetUp() override {
        first.LinkAs(ports.Path(), "COM3");
        second.LinkAs(ports.Path(), "COM12");
    }
    // Whether a device is free: another library can take it.
    bool Free(int16_t port) {
        DriverLibrary other("Veldabus2Drv");
        SerialDriverApi api(other);
        const bool free = api.openPort(port, kBaud) == 0;
        api.closePort();
        return free;
    }

    PtyInstrument first;
    PtyInstrument second;
    DriverLibrary lib{"VeldaASCII2Drv"};
    SerialDriverApi api{lib};
};

TEST_F(PortHandling, TimeOutRangeDefaultAndVersion) {
    EXPECT_EQ(api.version(), 1.3f);
    EXPECT_EQ(api.getTimeout(), 300);
    // Each time-out in turn, and what is then in force.
    for (auto [timeout, code, after] :
         {std::tuple{0, -1, 300}, {5001, -1, 300}, {-5, -1, 300}, {1, 0, 1}, {5000, 0, 5000}}) {
        EXPECT_EQ(api.setTimeout(static_cast<int16_t>(timeout)), code) << timeout;
        EXPECT_EQ(api.getTimeout(), after);
    }
}

// Held until closed, reopened elsewhere (the old port closed first, even
// when the new one fails) or unloaded; refused when it is no device, held
// by another library or asked for a rate the settings reject.
TEST_F(PortHandling, OpenHoldsTheDeviceExclusivelyAndRefusesWhatCannotBeOpened) {
    EXPECT_EQ(api.closePort(), 0); // nothing open yet
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    EXPECT_FALSE(Free(3));
    // Not even this process may open it a second time on its own.
    std::unique_ptr<vexa_serial::SerialLine> line;
    EXPECT_EQ(vexa_serial::OpenSerialDevice(first.DevicePath(), kBaud, line), -2);
    EXPECT_EQ(api.closePort(), 0);
    EXPECT_TRUE(Free(3));
    EXPECT_EQ(api.closePort(), 0);
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    ASSERT_EQ(api.openPort(12, kBaud), 0);
    EXPECT_TRUE(Free(3));
    EXPECT_FALSE(Free(12));
    EXPECT_EQ(api.openPort(40, kBaud), -2); // no COM40, no /dev/ttyS39
    EXPECT_TRUE(Free(12));
    std::ofstream(ports.Path() + "/COM5") << "not a device";
    std::filesystem::create_symlink(ports.Path() + "/nowhere", ports.Path() + "/COM6");
    // A rejected rate fails the settings and leaves the port closed.
    for (auto [port, baud, code] : {std::tuple{0, kBaud, -2},
                                    {-1, kBaud, -2},
                                    {5, kBaud, -2},
                                    {6, kBaud, -2},
                                    {3, 0, -1},
                                    {3, -9600, -1}})
        EXPECT_EQ(api.openPort(static_cast<int16_t>(port), baud), code) << port << " " << baud;
    EXPECT_TRUE(Free(3));
    DriverLibrary other("Veldabus2Drv");
    ASSERT_EQ(SerialDriverApi(other).openPort(3, kBaud), 0);
    EXPECT_EQ(api.openPort(3, kBaud), -2);
    // A rate without a named constant still opens.
    ASSERT_EQ(api.openPort(12, 76800), 0);
    lib.Unload();
    EXPECT_TRUE(Free(12));
}

// From a cooked, parity-checking, flow-controlled terminal with a stale
// reply queued: raw 8N1 at the asked rate, and the stale input gone.
TEST_F(PortHandling, LineIsRawEightNoneOneWithoutOldInput) {
    const int fd = open(first.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
    tio.c_oflag |= OPOST;
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    tcsetattr(fd, TCSANOW, &tio);
    first.Send(ToBytes("999\r"));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1); // the bytes sit in the queue before the open
    ASSERT_EQ(api.openPort(3, 19200), 0);
    tcgetattr(fd, &tio);
    close(fd);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    // The stream sees everything the port queued: there must be nothing.
    float value = -7.0f;
    EXPECT_EQ(lib.Entry<VexaPollStreamFn>("POLLSTREAM")(&value), VEXA_NO_STREAM_DATA);
}

// Numbers beyond the ports folder's links are serial devices; without
// VEXA_PORTS_DIR and VEXA_USB_DIR the folders lie in the configuration folder.
TEST(PortNames, NumberToDevicePath) {
    EXPECT_EQ(vexa_serial::PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(vexa_serial::PortDevicePath(-3), "");
    unsetenv("VEXA_PORTS_DIR");
    unsetenv("VEXA_USB_DIR");
    setenv("HOME", "/home/op", 1);
    for (auto [xdg, ports, usb] :
         {std::tuple{"/cfg", "/cfg/vexa/ports", "/cfg/vexa/usb/12"},
          {nullptr, "/home/op/.config/vexa/ports", "/home/op/.config/vexa/usb/12"}}) {
        xdg ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(vexa_serial::PortsDirectory(), ports);
        EXPECT_EQ(vexa_serial::UsbDevicePath(12), usb);
    }
}

} // namespace
