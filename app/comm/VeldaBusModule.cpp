#include "comm/VeldaBusModule.h"

#include "comm/SerialBinding.h"

namespace VeldaBusModule {

BusDriver& Library() {
    return SharedSerialBinding<BusDriver, int16_t>("Veldabus2Drv");
}

std::unique_ptr<BusDriver> BindFrom(const std::string& folder) {
    return SerialBindingFrom<BusDriver, int16_t>("Veldabus2Drv", folder);
}

} // namespace VeldaBusModule
