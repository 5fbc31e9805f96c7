#include "CoreFakes.h"
#include "DriverLibrary.h"
#include "VeldaASCIIModule.h"
#include "VeldaBusModule.h"
#include "VexaUSBModule.h"

#include <gtest/gtest.h>

#include "../support/ScratchFolder.h"

#include <fstream>

namespace {

struct Dispatch : ::testing::Test {
    WorkspaceClass workspace;
    FakeInstruments instruments;
    FakeBus bus{instruments};
    FakeAscii ascii{instruments};
    FakeUsb usb{instruments};
    ProtocolModule protocol{workspace, bus, ascii, usb};
    void TearDown() override { UsbDriverFault = false; }
};

TEST_F(Dispatch, AnUnknownProtocolOrAFaultyUsbDriverCallsNothingAndReturnsEmpty) {
    for (auto [index, fault] : {std::pair{3, false}, std::pair{-1, false}, std::pair{2, true}}) {
        workspace.Protocol = static_cast<int16_t>(index);
        UsbDriverFault = fault;
        float value = 42.0f;
        EXPECT_FALSE(protocol.ProtocolRead(1, std::string("SYS"), value).has_value());
        EXPECT_FLOAT_EQ(value, 42.0f);
        EXPECT_FALSE(protocol.ProtocolExecute(-1, std::string("SNAP")).has_value());
        EXPECT_FALSE(protocol.ProtocolOpenPort(1, 9600).has_value());
        EXPECT_FALSE(protocol.ProtocolClosePort().has_value());
        protocol.ProtocolSetTimeout(1000);
        EXPECT_FALSE(IsFailure(std::nullopt));
    }
    EXPECT_TRUE(instruments.calls.empty());
}

TEST_F(Dispatch, BusCommandsConvertToNumbersAndBadOnesRaise) {
    workspace.Protocol = ProtocolVeldaBus;
    instruments.values[5] = 1.5f;
    float value = 0;
    EXPECT_EQ(protocol.ProtocolRead(5, std::string("103"), value), ProtocolResult(0));
    EXPECT_FLOAT_EQ(value, 1.5f);
    EXPECT_EQ(protocol.ProtocolExecute(-1, int32_t{103}), ProtocolResult(0));
    EXPECT_EQ(instruments.calls, (CallLog{"READ 5 103", "EXEC -1 103"}));
    try {
        protocol.ProtocolRead(5, std::string("SYS"), value);
        FAIL() << "a command text that is no number went through";
    } catch (const ProtocolError& error) {
        EXPECT_EQ(error.kind(), ProtocolError::Kind::TypeMismatch);
    }
    try {
        protocol.ProtocolRead(40000, int32_t{10}, value);
        FAIL() << "a station beyond 16 bits went through";
    } catch (const ProtocolError& error) {
        EXPECT_EQ(error.kind(), ProtocolError::Kind::Overflow);
    }
    EXPECT_THROW(protocol.ProtocolExecute(1, int32_t{70000}), ProtocolError);
    EXPECT_EQ(instruments.calls.size(), 2u);
}

TEST_F(Dispatch, TextProtocolsTakeTheTextFormAndUsbTheWholeSerialNumber) {
    workspace.Protocol = ProtocolASCII;
    float value = 0;
    protocol.ProtocolRead(7, int32_t{10}, value);
    EXPECT_THROW(protocol.ProtocolRead(-40000, std::string("SYS"), value), ProtocolError);
    workspace.Protocol = ProtocolUSB;
    instruments.values[123456] = 9.0f;
    EXPECT_EQ(protocol.ProtocolRead(123456, std::string("SYS"), value), ProtocolResult(0));
    EXPECT_EQ(instruments.calls, (CallLog{"READ 7 10", "READ 123456 SYS"}));
}

TEST_F(Dispatch, OpeningClosesThePortFirstAndReturnsTheOpenCode) {
    workspace.Protocol = ProtocolVeldaBus;
    bus.openResult = -2;
    EXPECT_EQ(protocol.ProtocolOpenPort(3, 19200), ProtocolResult(-2));
    protocol.ProtocolSetTimeout(1000);
    workspace.Protocol = ProtocolUSB;
    EXPECT_EQ(protocol.ProtocolOpenPort(3, 19200), ProtocolResult(0));
    EXPECT_EQ(instruments.calls,
              (CallLog{"CLOSE", "OPEN 3 19200", "TIMEOUT 1000", "CLOSE", "OPEN"}));
}

TEST(ResultCodes, HaveTheSystemsWording) {
    EXPECT_EQ(ResultCodeText(-100), "No response.");
    EXPECT_EQ(ResultCodeText(-400), "Not acknowledged (NAK).");
    EXPECT_EQ(ResultCodeText(-999), "Unknown: -999");
    EXPECT_EQ(ResultCodeText(-3), "Unknown: -3");
}

// The fake libraries are built into their own folder by the test build.
const std::string FakeFolder = FAKE_DRIVER_FOLDER;

TEST(Bindings, LoadTheLibraryAtTheFirstCallAndBindEachEntryByName) {
    auto bus = VeldaBusModule::BindFrom(FakeFolder);
    float value = 0;
    EXPECT_EQ(bus->READCOMMAND(12, 10, &value), 0);
    EXPECT_FLOAT_EQ(value, 12 * 100 + 10);
    EXPECT_EQ(bus->OPENPORT(4, 9600), 4);
    EXPECT_EQ(bus->SETTIMEOUT(1000), 0);

    auto ascii = VeldaASCIIModule::BindFrom(FakeFolder);
    EXPECT_EQ(ascii->READCOMMAND(3, "SYSN", &value), 0);
    EXPECT_FLOAT_EQ(value, 3 * 100 + 4); // station * 100 + the command's length
    EXPECT_EQ(ascii->EXECUTECOMMAND(-1, "SNAP"), -1);

    auto usb = VexaUSBModule::BindFrom(FakeFolder);
    EXPECT_EQ(usb->READCOMMAND(123456, "SYS", &value), 0);
    EXPECT_FLOAT_EQ(value, 123456.0f);
    EXPECT_FLOAT_EQ(usb->VERSION(), 2.5f);
    // The fake USB library lacks CLOSEPORT: only that entry fails.
    try {
        usb->CLOSEPORT();
        FAIL() << "a missing entry went through";
    } catch (const ProtocolError& error) {
        EXPECT_EQ(error.kind(), ProtocolError::Kind::LoadFailed);
    }
    EXPECT_EQ(usb->OPENPORT(), 0);
}

TEST(Bindings, AMissingLibraryIsAFileNotFoundErrorAtItsFirstCall) {
    DriverLibrary library("Veldabus2Drv", "/nonexistent-driver-folder");
    EXPECT_FALSE(library.IsLoaded());
    try {
        library.Entry("OPENPORT");
        FAIL() << "no error for a missing library";
    } catch (const ProtocolError& error) {
        EXPECT_EQ(error.kind(), ProtocolError::Kind::FileNotFound);
#ifdef _WIN32
        const char* path = "/nonexistent-driver-folder\\Veldabus2Drv.dll";
#else
        const char* path = "/nonexistent-driver-folder/libVeldabus2Drv.so";
#endif
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
    }
    DriverLibrary fake("Veldabus2Drv", FakeFolder);
    EXPECT_FALSE(fake.IsLoaded());
    EXPECT_NE(fake.Entry("CLOSEPORT"), nullptr);
    EXPECT_TRUE(fake.IsLoaded());
    EXPECT_EQ(DriverLibrary::ApplicationFolder().empty(), false);
}

#ifndef _WIN32 // a Windows installation keeps its DLLs beside the program
TEST(Bindings, ALibraryIsFoundBesideTheProgramFirstThenInLibTarnvik) {
    const auto root = MakeScratchFolder("driver-folders");
    const std::string bin = (root / "bin").string(), lib = (root / "lib/tarnvik").string();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(lib);
    std::ofstream(lib + "/libVeldabus2Drv.so") << "x";
    std::ofstream(lib + "/libVexaUSBDrv.so") << "x";
    std::ofstream(bin + "/libVexaUSBDrv.so") << "x";
    EXPECT_EQ(DriverLibrary::FolderFor("Veldabus2Drv", bin), bin + "/../lib/tarnvik");
    EXPECT_EQ(DriverLibrary::FolderFor("VexaUSBDrv", bin), bin);
    EXPECT_EQ(DriverLibrary::FolderFor("VeldaASCII2Drv", bin), bin); // named in the error
    std::filesystem::remove_all(root);
}
#endif

} // namespace
