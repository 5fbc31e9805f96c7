// Port handling both serial libraries share: open, close, line settings,
// time-out, version, load and unload.
#include "DriverApi.h"
#include "SerialDevice.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

class PortHandling : public ::testing::TestWithParam<const char*>, protected PortsFixtureBase {
  protected:
    void SetUp() override {
        first.LinkAs(ports.Path(), "COM3");
        second.LinkAs(ports.Path(), "COM12");
    }
    // Whether a device is free: another library instance can take it.
    bool Free(int16_t port) {
        DriverLibrary other(Other());
        SerialDriverApi api(other);
        const bool free = api.openPort(port, kBaud) == 0;
        api.closePort();
        return free;
    }
    const char* Other() const {
        return std::string(GetParam()) == "Veldabus2Drv" ? "VeldaASCII2Drv" : "Veldabus2Drv";
    }

    PtyInstrument first;
    PtyInstrument second;
    DriverLibrary lib{GetParam()};
    SerialDriverApi api{lib};
};

TEST_P(PortHandling, TimeOutRangeAndDefault) {
    EXPECT_EQ(api.getTimeout(), 300);
    EXPECT_EQ(api.setTimeout(0), -1);
    EXPECT_EQ(api.setTimeout(5001), -1);
    EXPECT_EQ(api.setTimeout(-5), -1);
    EXPECT_EQ(api.getTimeout(), 300);
    EXPECT_EQ(api.setTimeout(1), 0);
    EXPECT_EQ(api.getTimeout(), 1);
    EXPECT_EQ(api.setTimeout(5000), 0);
    EXPECT_EQ(api.getTimeout(), 5000);
    // A fresh load starts at 300 again.
    lib.Unload();
    DriverLibrary again(GetParam());
    EXPECT_EQ(SerialDriverApi(again).getTimeout(), 300);
}

TEST_P(PortHandling, OpenHoldsTheDeviceExclusively) {
    EXPECT_EQ(api.closePort(), 0); // nothing open yet
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    EXPECT_FALSE(Free(3));
    // Not even this process may open it a second time on its own.
    std::unique_ptr<vexa_serial::SerialLine> line;
    EXPECT_EQ(vexa_serial::OpenSerialDevice(first.DevicePath(), kBaud, line), -2);
    EXPECT_EQ(api.closePort(), 0);
    EXPECT_TRUE(Free(3));
    EXPECT_EQ(api.closePort(), 0);
}

TEST_P(PortHandling, OpenAgainClosesTheOldPortFirstEvenWhenTheNewOneFails) {
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    ASSERT_EQ(api.openPort(12, kBaud), 0);
    EXPECT_TRUE(Free(3));
    EXPECT_FALSE(Free(12));
    EXPECT_EQ(api.openPort(40, kBaud), -2); // no COM40, no /dev/ttyS39
    EXPECT_TRUE(Free(12));
    EXPECT_EQ(api.closePort(), 0);
}

TEST_P(PortHandling, DevicesThatCannotBeOpened) {
    EXPECT_EQ(api.openPort(0, kBaud), -2);
    EXPECT_EQ(api.openPort(-1, kBaud), -2);
    std::ofstream(ports.Path() + "/COM5") << "not a device";
    EXPECT_EQ(api.openPort(5, kBaud), -2);
    std::filesystem::create_symlink(ports.Path() + "/nowhere", ports.Path() + "/COM6");
    EXPECT_EQ(api.openPort(6, kBaud), -2);
    // A device held by another library.
    DriverLibrary other(Other());
    SerialDriverApi otherApi(other);
    ASSERT_EQ(otherApi.openPort(3, kBaud), 0);
    EXPECT_EQ(api.openPort(3, kBaud), -2);
}

TEST_P(PortHandling, RejectedRateFailsTheSettingsAndLeavesThePortClosed) {
    EXPECT_EQ(api.openPort(3, 0), -1);
    EXPECT_EQ(api.openPort(3, -9600), -1);
    EXPECT_TRUE(Free(3));
    // A rate without a named constant still opens.
    EXPECT_EQ(api.openPort(3, 76800), 0);
}

TEST_P(PortHandling, LineSettingsAreRawEightNoneOne) {
    // Start from a cooked, parity-checking, flow-controlled terminal.
    const int fd = open(first.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
    tio.c_oflag |= OPOST;
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    tcsetattr(fd, TCSANOW, &tio);
    ASSERT_EQ(api.openPort(3, 19200), 0);
    tcgetattr(fd, &tio);
    close(fd);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
}

TEST_P(PortHandling, InputFromBeforeTheOpenIsDiscarded) {
    first.Send(ToBytes("999\r"));
    // Make sure the bytes sit in the device's queue before the open.
    const int fd = open(first.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    close(fd);
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    // The stream sees everything the port queued; there must be nothing.
    if (std::string(GetParam()) == "VeldaASCII2Drv") {
        float value = -7.0f;
        EXPECT_EQ(lib.Entry<int16_t(float*)>("POLLSTREAM")(&value), -700);
    } else {
        // The bus read takes every queued byte as its reply.
        first.Serve(BusFramer, [](const Bytes&, int) { return Bytes{}; });
        api.setTimeout(kShortTimeout);
        float value = -7.0f;
        EXPECT_EQ(lib.Entry<int16_t(int16_t, int16_t, float*)>("READCOMMAND")(1, 3, &value), -100);
    }
}

TEST_P(PortHandling, UnloadClosesThePort) {
    ASSERT_EQ(api.openPort(3, kBaud), 0);
    EXPECT_FALSE(Free(3));
    lib.Unload();
    EXPECT_TRUE(Free(3));
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, PortHandling,
                         ::testing::Values("Veldabus2Drv", "VeldaASCII2Drv"),
                         [](const auto& info) { return std::string(info.param); });

TEST(DriverVersion, EachLibraryReportsItsOwn) {
    DriverLibrary bus("Veldabus2Drv");
    DriverLibrary ascii("VeldaASCII2Drv");
    DriverLibrary usb("VexaUSBDrv");
    EXPECT_EQ(bus.Entry<float()>("VERSION")(), 1.5f);
    EXPECT_EQ(ascii.Entry<float()>("VERSION")(), 1.3f);
    EXPECT_EQ(usb.Entry<float()>("VERSION")(), 1.0f);
}

TEST(PortNames, NumberToDevicePath) {
    TempFolder ports;
    setenv("VEXA_PORTS_DIR", ports.Path().c_str(), 1);
    std::ofstream(ports.Path() + "/COM9");
    EXPECT_EQ(vexa_serial::PortDevicePath(9), ports.Path() + "/COM9");
    EXPECT_EQ(vexa_serial::PortDevicePath(10), "/dev/ttyS9");
    EXPECT_EQ(vexa_serial::PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(vexa_serial::PortDevicePath(0), "");
    EXPECT_EQ(vexa_serial::PortDevicePath(-3), "");

    unsetenv("VEXA_PORTS_DIR");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(vexa_serial::PortDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(vexa_serial::PortsDirectory(), "/cfg/vexa/ports");
    EXPECT_EQ(vexa_serial::UsbDevicePath(123456), "/cfg/vexa/usb/123456");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(vexa_serial::UsbDirectory(), "/home/op/.config/vexa/usb");
    setenv("VEXA_USB_DIR", "/usb", 1);
    EXPECT_EQ(vexa_serial::UsbDevicePath(7), "/usb/7");
    unsetenv("VEXA_USB_DIR");
}

} // namespace
