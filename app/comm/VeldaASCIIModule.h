// The binding of the VeldaASCII2Drv driver library: each entry bound by its exact
// name at its first call, the library loaded then and kept loaded.
#pragma once

#include "comm/ProtocolModule.h"

#include <memory>
#include <string>

namespace VeldaASCIIModule {
// The process-wide binding, loading from the application folder.
AsciiDriver& Library();
// A binding of its own over the library in folder (tests, tools).
std::unique_ptr<AsciiDriver> BindFrom(const std::string& folder);
} // namespace VeldaASCIIModule
