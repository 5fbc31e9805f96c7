/* Stand-ins for the three driver libraries: each entry answers with values
   made from its arguments so a test sees that they crossed unchanged. The
   USB one deliberately lacks CLOSEPORT. */
#include <stdint.h>
#include <string.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int16_t SETTIMEOUT(int16_t ms) {
    return ms > 0 ? 0 : -1;
}

#ifdef FAKE_USB
EXPORT int16_t OPENPORT(void) {
    return 0;
}
EXPORT int16_t READCOMMAND(int32_t serial, const char* command, float* value) {
    (void)command;
    *value = (float)serial;
    return 0;
}
EXPORT float VERSION(void) {
    return 2.5f;
}
#else
EXPORT int16_t OPENPORT(int16_t port, int32_t baud) {
    return baud > 0 ? port : 0;
}
EXPORT int16_t CLOSEPORT(void) {
    return 0;
}
#endif

#ifdef FAKE_BUS
EXPORT int16_t READCOMMAND(int16_t station, int16_t command, float* value) {
    *value = (float)(station * 100 + command);
    return 0;
}
#endif

#ifdef FAKE_ASCII
EXPORT int16_t READCOMMAND(int16_t station, const char* command, float* value) {
    *value = (float)(station * 100 + (int)strlen(command));
    return 0;
}
EXPORT int16_t EXECUTECOMMAND(int16_t station, const char* command) {
    return station < 0 && strcmp(command, "SNAP") == 0 ? -1 : 0;
}
#endif
