#include "CoreFakes.h"
#include "comm/DriverLibrary.h"
#include "comm/VexaUSBModule.h"

#include "support/ScratchFolder.h"

namespace {

// An unknown protocol or a faulty USB driver calls nothing and returns empty
// (the front ends open and close the port of any workspace). Bus commands are
// numbers, text commands text, USB serial numbers whole; what does not fit is
// refused before any call.
TEST(Dispatch, EachProtocolTakesItsFormAndAnUnknownOneOrAFaultyUsbDriverCallsNothing) {
    WorkspaceClass workspace;
    FakeDrivers drivers;
    ProtocolModule protocol{workspace, drivers, drivers, drivers};
    float value = 42.0f;
    for (auto [index, fault] : {std::pair{3, false}, std::pair{-1, false}, std::pair{2, true}}) {
        workspace.Protocol = static_cast<int16_t>(index);
        UsbDriverFault = fault;
        EXPECT_FALSE(protocol.ProtocolOpenPort(1, 9600) || protocol.ProtocolClosePort());
        EXPECT_FALSE(protocol.ProtocolRead(1, std::string("SYS"), value) ||
                     protocol.ProtocolExecute(-1, std::string("SNAP")));
        protocol.ProtocolSetTimeout(1000);
    }
    UsbDriverFault = false;
    EXPECT_TRUE(drivers.calls.empty());
    EXPECT_FALSE(IsFailure(std::nullopt)); // empty is no failure: nothing was asked
    EXPECT_EQ(ResultCodeText(-3), "Unknown: -3");
    workspace.Protocol = ProtocolVeldaBus;
    drivers.values[5] = 1.5f;
    EXPECT_EQ(protocol.ProtocolRead(5, std::string("103"), value), ProtocolResult(0));
    EXPECT_FLOAT_EQ(value, 1.5f);
    EXPECT_EQ(protocol.ProtocolExecute(-1, int32_t{103}), ProtocolResult(0));
    EXPECT_THROW(protocol.ProtocolRead(5, std::string("SYS"), value), ProtocolError);
    EXPECT_THROW(protocol.ProtocolRead(40000, int32_t{10}, value), ProtocolError);
    EXPECT_THROW(protocol.ProtocolExecute(1, int32_t{70000}), ProtocolError);
    workspace.Protocol = ProtocolASCII;
    protocol.ProtocolRead(7, int32_t{10}, value);
    EXPECT_THROW(protocol.ProtocolRead(-40000, std::string("SYS"), value), ProtocolError);
    workspace.Protocol = ProtocolUSB;
    drivers.values[123456] = 9.0f;
    EXPECT_EQ(protocol.ProtocolRead(123456, std::string("SYS"), value), ProtocolResult(0));
    EXPECT_EQ(drivers.calls,
              (CallLog{"READ 5 103", "EXEC -1 103", "READ 7 10", "READ 123456 SYS"}));
}

// The fake USB library, built into a folder of its own, answers with values
// made from the arguments: a binding that swaps or drops one shows. The
// serial bindings run against the real drivers in the reliability tests.
const std::string FakeFolder = FAKE_DRIVER_FOLDER;

TEST(Bindings, EachEntryIsBoundByNameAtItsFirstCallAndTakesItsArgumentsInOrder) {
    auto usb = VexaUSBModule::BindFrom(FakeFolder);
    float value = 0;
    EXPECT_EQ(usb->READCOMMAND(123456, "S", &value), 0);
    EXPECT_EQ(value, 123456 + 'S');
    EXPECT_EQ(usb->VERSION(), 2.5f);
    EXPECT_EQ(usb->OPENPORT() + usb->SETTIMEOUT(-1), 7 - 1);
    // The fake lacks CLOSEPORT: only that entry fails.
    EXPECT_THROW(usb->CLOSEPORT(), ProtocolError);

    DriverLibrary fake("VexaUSBDrv", FakeFolder), missing("Veldabus2Drv", "/nowhere");
    EXPECT_FALSE(fake.IsLoaded());
    EXPECT_NE(fake.Entry("OPENPORT"), nullptr);
    EXPECT_TRUE(fake.IsLoaded());
    std::string error;
    try {
        missing.Entry("OPENPORT");
    } catch (const ProtocolError& e) {
        error = e.what();
    }
#ifdef _WIN32
    EXPECT_NE(error.find("/nowhere\\Veldabus2Drv.dll"), std::string::npos) << error;
#else
    EXPECT_NE(error.find("/nowhere/libVeldabus2Drv.so"), std::string::npos) << error;
    // Beside the program first, then in lib/tarnvik; a Windows installation
    // keeps its DLLs beside the program.
    const auto root = MakeScratchFolder("driver-folders");
    const std::string bin = (root / "bin").string(), lib = (root / "lib/tarnvik").string();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(lib);
    for (const std::string& file :
         {lib + "/libVeldabus2Drv.so", lib + "/libVexaUSBDrv.so", bin + "/libVexaUSBDrv.so"})
        PutFileBytes(file, "x");
    EXPECT_EQ(DriverLibrary::FolderFor("Veldabus2Drv", bin), bin + "/../lib/tarnvik");
    EXPECT_EQ(DriverLibrary::FolderFor("VexaUSBDrv", bin), bin);
    EXPECT_EQ(DriverLibrary::FolderFor("VeldaASCII2Drv", bin), bin); // named in the error
    std::filesystem::remove_all(root);
#endif
}

} // namespace
