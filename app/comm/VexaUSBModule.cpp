#include "comm/VexaUSBModule.h"

#include "VexaDriver.h"
#include "comm/DriverLibrary.h"

namespace {

class VexaUSBBinding : public UsbDriver {
  public:
    explicit VexaUSBBinding(const std::string& folder) : m_library("VexaUSBDrv", folder) {}

    int16_t OPENPORT() override { return (*m_open)(); }
    int16_t CLOSEPORT() override { return (*m_close)(); }
    int16_t READCOMMAND(int32_t serialNumber, const char* command, float* value) override {
        return (*m_read)(serialNumber, command, value);
    }
    int16_t EXECUTECOMMAND(int32_t serialNumber, const char* command) override {
        return (*m_execute)(serialNumber, command);
    }
    int16_t SETTIMEOUT(int16_t milliseconds) override { return (*m_timeout)(milliseconds); }
    float VERSION() override { return (*m_version)(); }

  private:
    DriverLibrary m_library;
    LazyEntry<VexaUsbOpenPortFn> m_open{m_library, "OPENPORT"};
    LazyEntry<VexaClosePortFn> m_close{m_library, "CLOSEPORT"};
    LazyEntry<VexaUsbReadFn> m_read{m_library, "READCOMMAND"};
    LazyEntry<VexaUsbExecuteFn> m_execute{m_library, "EXECUTECOMMAND"};
    LazyEntry<VexaSetTimeoutFn> m_timeout{m_library, "SETTIMEOUT"};
    LazyEntry<VexaVersionFn> m_version{m_library, "VERSION"};
};

} // namespace

namespace VexaUSBModule {

UsbDriver& Library() {
    // Deliberately never destroyed: the library stays loaded to the end.
    static auto* binding = new VexaUSBBinding(DriverLibrary::FolderFor("VexaUSBDrv"));
    return *binding;
}

std::unique_ptr<UsbDriver> BindFrom(const std::string& folder) {
    return std::make_unique<VexaUSBBinding>(folder);
}

} // namespace VexaUSBModule
