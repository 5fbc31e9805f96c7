/* A stand-in for the USB driver library: each entry answers with values made
   from its arguments so a test sees that they crossed unchanged. It
   deliberately lacks CLOSEPORT. */
#include <stdint.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

EXPORT int16_t SETTIMEOUT(int16_t ms) {
    return ms > 0 ? 0 : -1;
}
EXPORT int16_t OPENPORT(void) {
    return 7;
}
EXPORT int16_t READCOMMAND(int32_t serial, const char* command, float* value) {
    *value = (float)serial + (float)command[0];
    return 0;
}
EXPORT float VERSION(void) {
    return 2.5f;
}
