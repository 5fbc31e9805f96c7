/* The entry points of the Vexa driver libraries: Veldabus2Drv (VeldaBus),
 * VeldaASCII2Drv (ASCII line protocol) and VexaUSBDrv (USB instruments).
 *
 * Plain C, so any program can declare the entries from here. The libraries
 * share most names but not every argument list, so a program says which
 * library it calls before including this header:
 *
 *     #define VEXA_DRIVER_VELDABUS      (or VEXA_DRIVER_VELDAASCII,
 *     #include "VexaDriver.h"            VEXA_DRIVER_VEXAUSB)
 *
 * With none defined only the entries all three share are declared. The
 * function-pointer types below are declared always, for programs that bind
 * the entries at run time (LoadLibrary/GetProcAddress, dlopen/dlsym).
 *
 * Types: INTEGER is int16_t, LONG int32_t, SINGLE float (by reference: a
 * pointer to it), a command text a zero-terminated ANSI string. Every entry
 * returns a result code (0 is success) except VERSION, SENDXON and SENDXOFF.
 * On 32-bit Windows every entry is __stdcall (the callee removes its
 * arguments) and exported by its plain name.
 */
#ifndef VEXA_DRIVER_H
#define VEXA_DRIVER_H

#include <stdint.h>

#if defined(_WIN32)
#define VEXA_CALL __stdcall
#else
#define VEXA_CALL
#endif

/* A library being built marks its entries visible; on Windows its
 * module-definition file names the exports instead. */
#if defined(VEXA_DRIVER_BUILD) && !defined(_WIN32)
#define VEXA_API __attribute__((visibility("default")))
#else
#define VEXA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Entries of every library ---- */

/* 0, or -2 when the port (the USB instruments) could not be closed. */
VEXA_API int16_t VEXA_CALL CLOSEPORT(void);
/* Reply time-out, 1..5000 ms (else -1 and the old value is kept). */
VEXA_API int16_t VEXA_CALL SETTIMEOUT(int16_t milliseconds);
VEXA_API int16_t VEXA_CALL GETTIMEOUT(void);
/* 1.5 (Veldabus2Drv), 1.3 (VeldaASCII2Drv), 1.0 (VexaUSBDrv). */
VEXA_API float VEXA_CALL VERSION(void);

/* ---- The serial libraries: Veldabus2Drv and VeldaASCII2Drv ---- */

#if defined(VEXA_DRIVER_VELDABUS) || defined(VEXA_DRIVER_VELDAASCII)
/* Opens COM<port>: 0, -1 (a line setting failed) or -2 (cannot open). */
VEXA_API int16_t VEXA_CALL OPENPORT(int16_t port, int32_t baud);
#endif

#if defined(VEXA_DRIVER_VELDABUS)
/* Station 1..255, 0 for all (no reply), -1 for all with a short settle;
 * command 1..253. */
VEXA_API int16_t VEXA_CALL READCOMMAND(int16_t station, int16_t command, float* value);
VEXA_API int16_t VEXA_CALL WRITECOMMAND(int16_t station, int16_t command, float value);
VEXA_API int16_t VEXA_CALL EXECUTECOMMAND(int16_t station, int16_t command);
#endif

#if defined(VEXA_DRIVER_VELDAASCII)
/* Station 0..999 (0 for all, no reply) or -1; the command's mnemonic. */
VEXA_API int16_t VEXA_CALL READCOMMAND(int16_t station, const char* command, float* value);
VEXA_API int16_t VEXA_CALL WRITECOMMAND(int16_t station, const char* command, float value);
VEXA_API int16_t VEXA_CALL EXECUTECOMMAND(int16_t station, const char* command);
/* The oldest streamed reading: 0, -600 (buffer full, no line) or -700. */
VEXA_API int16_t VEXA_CALL POLLSTREAM(float* value);
VEXA_API void VEXA_CALL SENDXON(void);
VEXA_API void VEXA_CALL SENDXOFF(void);
#endif

#if defined(VEXA_DRIVER_VEXAUSB)
/* Makes the USB instruments reachable: 0 or -2. */
VEXA_API int16_t VEXA_CALL OPENPORT(void);
/* An instrument by its serial number, with the ASCII command mnemonics. */
VEXA_API int16_t VEXA_CALL READCOMMAND(int32_t serialNumber, const char* command, float* value);
VEXA_API int16_t VEXA_CALL WRITECOMMAND(int32_t serialNumber, const char* command, float value);
VEXA_API int16_t VEXA_CALL EXECUTECOMMAND(int32_t serialNumber, const char* command);
#endif

/* ---- The entries as function pointers, for binding at run time ---- */

typedef int16_t(VEXA_CALL* VexaOpenPortFn)(int16_t port, int32_t baud);
typedef int16_t(VEXA_CALL* VexaUsbOpenPortFn)(void);
typedef int16_t(VEXA_CALL* VexaClosePortFn)(void);
typedef int16_t(VEXA_CALL* VexaSetTimeoutFn)(int16_t milliseconds);
typedef int16_t(VEXA_CALL* VexaGetTimeoutFn)(void);
typedef float(VEXA_CALL* VexaVersionFn)(void);
typedef int16_t(VEXA_CALL* VexaBusReadFn)(int16_t station, int16_t command, float* value);
typedef int16_t(VEXA_CALL* VexaBusWriteFn)(int16_t station, int16_t command, float value);
typedef int16_t(VEXA_CALL* VexaBusExecuteFn)(int16_t station, int16_t command);
typedef int16_t(VEXA_CALL* VexaAsciiReadFn)(int16_t station, const char* command, float* value);
typedef int16_t(VEXA_CALL* VexaAsciiWriteFn)(int16_t station, const char* command, float value);
typedef int16_t(VEXA_CALL* VexaAsciiExecuteFn)(int16_t station, const char* command);
typedef int16_t(VEXA_CALL* VexaPollStreamFn)(float* value);
typedef void(VEXA_CALL* VexaFlowControlFn)(void);
typedef int16_t(VEXA_CALL* VexaUsbReadFn)(int32_t serialNumber, const char* command, float* value);
typedef int16_t(VEXA_CALL* VexaUsbWriteFn)(int32_t serialNumber, const char* command, float value);
typedef int16_t(VEXA_CALL* VexaUsbExecuteFn)(int32_t serialNumber, const char* command);

#ifdef __cplusplus
}
#endif

#endif /* VEXA_DRIVER_H */
