// The entry points of each driver library, found by name in a loaded
// library `Lib` (anything with Entry<Fn>(name)), with the contract header's
// types. POSIX-free: the Windows test programs use it too.
#pragma once

#include "VexaDriver.h"

template <class Lib> struct SerialEntries {
    explicit SerialEntries(const Lib& lib)
        : openPort(lib.template Entry<VexaOpenPortFn>("OPENPORT")),
          closePort(lib.template Entry<VexaClosePortFn>("CLOSEPORT")),
          setTimeout(lib.template Entry<VexaSetTimeoutFn>("SETTIMEOUT")),
          getTimeout(lib.template Entry<VexaGetTimeoutFn>("GETTIMEOUT")),
          version(lib.template Entry<VexaVersionFn>("VERSION")) {}
    VexaOpenPortFn openPort;
    VexaClosePortFn closePort;
    VexaSetTimeoutFn setTimeout;
    VexaGetTimeoutFn getTimeout;
    VexaVersionFn version;
};

template <class Lib> struct BusEntries : SerialEntries<Lib> {
    explicit BusEntries(const Lib& lib)
        : SerialEntries<Lib>(lib), read(lib.template Entry<VexaBusReadFn>("READCOMMAND")),
          write(lib.template Entry<VexaBusWriteFn>("WRITECOMMAND")),
          execute(lib.template Entry<VexaBusExecuteFn>("EXECUTECOMMAND")) {}
    VexaBusReadFn read;
    VexaBusWriteFn write;
    VexaBusExecuteFn execute;
};

template <class Lib> struct AsciiEntries : SerialEntries<Lib> {
    explicit AsciiEntries(const Lib& lib)
        : SerialEntries<Lib>(lib), read(lib.template Entry<VexaAsciiReadFn>("READCOMMAND")),
          write(lib.template Entry<VexaAsciiWriteFn>("WRITECOMMAND")),
          execute(lib.template Entry<VexaAsciiExecuteFn>("EXECUTECOMMAND")),
          pollStream(lib.template Entry<VexaPollStreamFn>("POLLSTREAM")),
          sendXon(lib.template Entry<VexaFlowControlFn>("SENDXON")),
          sendXoff(lib.template Entry<VexaFlowControlFn>("SENDXOFF")) {}
    VexaAsciiReadFn read;
    VexaAsciiWriteFn write;
    VexaAsciiExecuteFn execute;
    VexaPollStreamFn pollStream;
    VexaFlowControlFn sendXon;
    VexaFlowControlFn sendXoff;
};

template <class Lib> struct UsbEntries {
    explicit UsbEntries(const Lib& lib)
        : openPort(lib.template Entry<VexaUsbOpenPortFn>("OPENPORT")),
          closePort(lib.template Entry<VexaClosePortFn>("CLOSEPORT")),
          read(lib.template Entry<VexaUsbReadFn>("READCOMMAND")),
          write(lib.template Entry<VexaUsbWriteFn>("WRITECOMMAND")),
          execute(lib.template Entry<VexaUsbExecuteFn>("EXECUTECOMMAND")),
          setTimeout(lib.template Entry<VexaSetTimeoutFn>("SETTIMEOUT")) {}
    VexaUsbOpenPortFn openPort;
    VexaClosePortFn closePort;
    VexaUsbReadFn read;
    VexaUsbWriteFn write;
    VexaUsbExecuteFn execute;
    VexaSetTimeoutFn setTimeout;
};
