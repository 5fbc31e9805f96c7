// The USB stand-in: instruments by serial number, ASCII lines to station 000.
#include "DriverApi.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class UsbWire : public ::testing::Test {
  protected:
    UsbWire() { setenv("VEXA_USB_DIR", usb.Path().c_str(), 1); }
    void SetUp() override {
        instrument.LinkAs(usb.Path(), "123456");
        ASSERT_EQ(api.setTimeout(kShortTimeout), 0);
    }
    TempFolder usb;
    PtyInstrument instrument;
    DriverLibrary lib{"VexaUSBDrv"};
    UsbApi api{lib};
};

TEST_F(UsbWire, ReadsWritesAndExecutesBySerialNumber) {
    instrument.Serve(AsciiFramer, [](const Bytes& req, int) {
        return ToBytes(ToText(req) == "!000:SYS?\r" ? "42.25\r" : "\r");
    });
    ASSERT_EQ(api.openPort(), 0);
    float value = -7.0f;
    EXPECT_EQ(api.read(123456, "SYS", &value), 0);
    EXPECT_EQ(value, 42.25f);
    EXPECT_EQ(api.write(123456, "W", 1.0f), 0);
    EXPECT_EQ(api.execute(123456, "SNAP"), 0);
    EXPECT_EQ(ToText(instrument.Received(10 + 23 + 10)),
              "!000:SYS?\r!000:W=0000001.0000000\r!000:SNAP\r");
    EXPECT_EQ(api.closePort(), 0);
}

TEST_F(UsbWire, CodesWithoutAnInstrument) {
    float value = -7.0f;
    EXPECT_EQ(api.read(123456, "SYS", &value), -2); // before OPENPORT
    ASSERT_EQ(api.openPort(), 0);
    EXPECT_EQ(api.read(654321, "SYS", &value), -2); // no such instrument
    EXPECT_EQ(api.read(0, "SYS", &value), -1);
    EXPECT_EQ(api.read(-5, "SYS", &value), -1);
    EXPECT_EQ(api.read(123456, nullptr, &value), -1);
    EXPECT_EQ(api.closePort(), 0);
    EXPECT_EQ(api.read(123456, "SYS", &value), -2); // after CLOSEPORT
    EXPECT_EQ(value, -7.0f);
    EXPECT_TRUE(instrument.Received().empty());

    std::filesystem::remove_all(usb.Path());
    EXPECT_EQ(api.openPort(), -2);
}

TEST_F(UsbWire, SilentInstrumentIsRetriedAndFoundAgainLater) {
    ASSERT_EQ(api.openPort(), 0);
    float value = -7.0f;
    EXPECT_EQ(api.read(123456, "SYS", &value), -100);
    EXPECT_EQ(ToText(instrument.Received(40)), "!000:SYS?\r!000:SYS?\r!000:SYS?\r!000:SYS?\r");
    instrument.Serve(AsciiFramer, [](const Bytes&, int) { return ToBytes("5\r"); });
    EXPECT_EQ(api.read(123456, "SYS", &value), 0);
    EXPECT_EQ(value, 5.0f);
}

TEST_F(UsbWire, InstrumentsAreHeldUntilClosePortOrUnload) {
    setenv("VEXA_PORTS_DIR", usb.Path().c_str(), 1);
    instrument.LinkAs(usb.Path(), "COM3");
    instrument.Serve(AsciiFramer, [](const Bytes&, int) { return ToBytes("1\r"); });
    DriverLibrary ascii("VeldaASCII2Drv");
    SerialDriverApi serial(ascii);
    ASSERT_EQ(api.openPort(), 0);
    float value = 0.0f;
    ASSERT_EQ(api.read(123456, "SYS", &value), 0);
    EXPECT_EQ(serial.openPort(3, kBaud), -2);
    ASSERT_EQ(api.closePort(), 0);
    EXPECT_EQ(serial.openPort(3, kBaud), 0);
    EXPECT_EQ(serial.closePort(), 0);

    ASSERT_EQ(api.openPort(), 0);
    ASSERT_EQ(api.read(123456, "SYS", &value), 0);
    lib.Unload();
    EXPECT_EQ(serial.openPort(3, kBaud), 0);
}

} // namespace
