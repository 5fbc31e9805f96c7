#include "VeldaBusModule.h"

#include "SerialBinding.h"

namespace {
using Binding = SerialBinding<BusDriver, int16_t>;
constexpr const char* LibraryName = "Veldabus2Drv";
} // namespace

namespace VeldaBusModule {

BusDriver& Library() {
    // Deliberately never destroyed: the library stays loaded to the end.
    static auto* binding = new Binding(LibraryName, DriverLibrary::ApplicationFolder());
    return *binding;
}

std::unique_ptr<BusDriver> BindFrom(const std::string& folder) {
    return std::make_unique<Binding>(LibraryName, folder);
}

} // namespace VeldaBusModule
