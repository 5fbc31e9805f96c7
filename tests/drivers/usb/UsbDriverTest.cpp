// The USB stand-in: instruments by serial number, ASCII lines to station 000.
#include "support/DriverApi.h"

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
    UsbEntries<DriverLibrary> api{lib};
    float value = -7.0f;
};

TEST_F(UsbWire, ReadsWritesAndExecutesBySerialNumberAndHoldsTheDevice) {
    EXPECT_EQ(lib.Entry<VexaVersionFn>("VERSION")(), 1.0f);
    EXPECT_EQ(api.read(123456, "SYS", &value), -2); // before OPENPORT
    ASSERT_EQ(api.openPort(), 0);
    EXPECT_EQ(api.read(654321, "SYS", &value), -2); // no such instrument
    EXPECT_EQ(api.read(0, "SYS", &value), -1);
    EXPECT_EQ(api.read(123456, nullptr, &value), -1);
    EXPECT_EQ(api.closePort(), 0);
    EXPECT_EQ(api.read(123456, "SYS", &value), -2); // after CLOSEPORT
    EXPECT_EQ(value, -7.0f);
    EXPECT_TRUE(instrument.Received().empty());
    std::filesystem::remove_all(usb.Path());
    EXPECT_EQ(api.openPort(), -2);
    std::filesystem::create_directory(usb.Path());
    instrument.LinkAs(usb.Path(), "123456");

    // A silent instrument is asked four times and found again once it
    // answers; it is held until CLOSEPORT or the unload.
    setenv("VEXA_PORTS_DIR", usb.Path().c_str(), 1);
    instrument.LinkAs(usb.Path(), "COM3");
    DriverLibrary ascii("VeldaASCII2Drv");
    SerialDriverApi serial(ascii);
    instrument.Serve(AsciiFramer, [](const Bytes& req, int n) {
        return n < 4 ? Bytes{} : ToBytes(ToText(req) == "!000:SYS?\r" ? "42.25\r" : "\r");
    });
    ASSERT_EQ(api.openPort(), 0);
    EXPECT_EQ(api.read(123456, "SYS", &value), -100);
    const std::string silent = "!000:SYS?\r!000:SYS?\r!000:SYS?\r!000:SYS?\r";
    EXPECT_EQ(ToText(instrument.Received(silent.size())), silent);
    EXPECT_EQ(api.read(123456, "SYS", &value), 0);
    EXPECT_EQ(value, 42.25f);
    EXPECT_EQ(api.write(123456, "W", 1.0f), 0);
    EXPECT_EQ(api.execute(123456, "SNAP"), 0);
    const std::string sent = silent + "!000:SYS?\r!000:W=0000001.0000000\r!000:SNAP\r";
    EXPECT_EQ(ToText(instrument.Received(sent.size())), sent);
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
