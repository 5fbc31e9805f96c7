// The driver libraries bound by name as the application binds them, and a
// ports folder for their tests.
#pragma once

#include "support/DriverEntries.h"
#include "support/PtyInstrument.h"

#include <gtest/gtest.h>

#include <cstdlib>

using SerialDriverApi = SerialEntries<DriverLibrary>;
using BusApi = BusEntries<DriverLibrary>;
using AsciiApi = AsciiEntries<DriverLibrary>;

// A ports folder with the instruments linked as COM<N>, pointed to by
// VEXA_PORTS_DIR for the test's duration.
struct PortsFixtureBase {
    PortsFixtureBase() { setenv("VEXA_PORTS_DIR", ports.Path().c_str(), 1); }
    TempFolder ports;
};

inline constexpr int32_t kBaud = 115200;
// Short enough for the retry cases to stay fast, long enough for a pseudo
// terminal to carry a reply on a busy machine.
inline constexpr int16_t kShortTimeout = 40;

// One instrument linked as COM3, and `library` with that port open and the
// short time-out.
template <class Api> class WireTest : public ::testing::Test, protected PortsFixtureBase {
  protected:
    explicit WireTest(const char* library) : lib(library), api(lib) {}
    void SetUp() override {
        instrument.LinkAs(ports.Path(), "COM3");
        ASSERT_EQ(api.openPort(3, kBaud), VEXA_OK);
        ASSERT_EQ(api.setTimeout(kShortTimeout), VEXA_OK);
    }
    PtyInstrument instrument;
    DriverLibrary lib;
    Api api;
    float value = -7.0f;
};
