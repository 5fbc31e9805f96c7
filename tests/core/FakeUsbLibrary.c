/* Stand-in for the USB driver library, deliberately without CLOSEPORT. */
#include <stdint.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int16_t OPENPORT(void) {
    return 0;
}
EXPORT int16_t READCOMMAND(int32_t serial, const char* command, float* value) {
    (void)command;
    *value = (float)serial;
    return 0;
}
EXPORT int16_t EXECUTECOMMAND(int32_t serial, const char* command) {
    (void)command;
    return serial < 0 ? -1 : 0;
}
EXPORT int16_t SETTIMEOUT(int16_t ms) {
    return ms > 0 ? 0 : -1;
}
EXPORT float VERSION(void) {
    return 2.5f;
}
