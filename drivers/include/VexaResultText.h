// The system's wording for the driver result codes: the one table the
// application and the tools show them with.
#pragma once

#include "VexaDriver.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

// "" for success; a code outside the table (and -999, which has no text of
// its own) reads "Unknown: " and the code.
inline std::string VexaResultText(int16_t code) {
    switch (code) {
    case VEXA_OK:
        return "";
    case VEXA_INVALID_ARGUMENT:
        return "Invalid argument value in function call.";
    case VEXA_PORT_FAILED:
        return "Cannot open or close serial port.";
    case VEXA_NO_RESPONSE:
        return "No response.";
    case VEXA_BAD_STATION:
        return "Invalid station number in response.";
    case VEXA_BAD_CHECKSUM:
        return "Invalid checksum.";
    case VEXA_NAK:
        return "Not acknowledged (NAK).";
    case VEXA_BAD_LENGTH:
        return "Invalid reply length.";
    case VEXA_STREAM_FULL:
        return "Stream buffer full.";
    case VEXA_NO_STREAM_DATA:
        return "No stream data.";
    default:
        return "Unknown: " + std::to_string(code);
    }
}

// Every code of the table, for the tools that check a driver against it.
inline constexpr int16_t kVexaResultCodes[] = {
    VEXA_OK,          VEXA_INVALID_ARGUMENT, VEXA_PORT_FAILED, VEXA_NO_RESPONSE,
    VEXA_BAD_STATION, VEXA_BAD_CHECKSUM,     VEXA_NAK,         VEXA_BAD_LENGTH,
    VEXA_STREAM_FULL, VEXA_NO_STREAM_DATA,   VEXA_PORT_ERROR};

inline bool VexaIsResultCode(int16_t code) {
    return std::find(std::begin(kVexaResultCodes), std::end(kVexaResultCodes), code) !=
           std::end(kVexaResultCodes);
}
