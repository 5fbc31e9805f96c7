#include "VeldaASCIIModule.h"

#include "SerialBinding.h"

namespace {
using Binding = SerialBinding<AsciiDriver, const char*>;
constexpr const char* LibraryName = "VeldaASCII2Drv";
} // namespace

namespace VeldaASCIIModule {

AsciiDriver& Library() {
    // Deliberately never destroyed: the library stays loaded to the end.
    static auto* binding = new Binding(LibraryName, DriverLibrary::ApplicationFolder());
    return *binding;
}

std::unique_ptr<AsciiDriver> BindFrom(const std::string& folder) {
    return std::make_unique<Binding>(LibraryName, folder);
}

} // namespace VeldaASCIIModule
