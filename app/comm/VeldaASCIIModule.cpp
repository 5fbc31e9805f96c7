#include "comm/VeldaASCIIModule.h"

#include "comm/SerialBinding.h"

namespace VeldaASCIIModule {

AsciiDriver& Library() {
    return SharedSerialBinding<AsciiDriver, const char*>("VeldaASCII2Drv");
}

std::unique_ptr<AsciiDriver> BindFrom(const std::string& folder) {
    return SerialBindingFrom<AsciiDriver, const char*>("VeldaASCII2Drv", folder);
}

} // namespace VeldaASCIIModule
