// Test-side instruments: a pseudo terminal whose far end records every
// byte a driver sends and answers complete requests from a script, plus a
// loader that reaches a driver library the way the application does.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);
std::string ToText(const Bytes& bytes);

// Length of the complete request at the front of `pending`, 0 if none yet.
using Framer = std::function<size_t(const Bytes& pending)>;
size_t BusFramer(const Bytes& pending);   // 5- or 13-byte VeldaBus requests
size_t AsciiFramer(const Bytes& pending); // one line up to and with its CR

// Answer to the n-th request (0-based); empty for silence.
using Responder = std::function<Bytes(const Bytes& request, int index)>;
// How many milliseconds after its request the n-th answer goes out; none:
// at once.
using Pacer = std::function<int(const Bytes& request, int index)>;

class PtyInstrument {
  public:
    PtyInstrument();
    ~PtyInstrument();

    const std::string& DevicePath() const { return m_slavePath; }
    // Makes the device reachable as `dir`/`name` (COM<N> or a serial number).
    void LinkAs(const std::string& dir, const std::string& name) const;

    // Starts answering requests cut by `framer`.
    void Serve(Framer framer, Responder responder, Pacer pacer = nullptr);
    // Sends bytes unasked, as a streaming instrument does.
    void Send(const Bytes& bytes);
    // Everything the driver has sent so far, after waiting (bounded) until
    // at least `atLeast` bytes are in.
    Bytes Received(size_t atLeast = 0);

  private:
    void Run();

    int m_master = -1;
    int m_slaveHold = -1; // keeps the terminal alive between driver opens
    int m_wake[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Bytes m_received;
    Bytes m_pending;
    int m_requests = 0;
    Framer m_framer;
    Responder m_responder;
    Pacer m_pacer;
    struct Due {
        std::chrono::steady_clock::time_point at;
        Bytes reply;
    };
    std::vector<Due> m_due; // paced replies, in the order they go out
};

// A temporary folder for COM<N> links and USB serial numbers, removed at
// the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// A driver library loaded by file name with dlopen and unloaded with
// dlclose, its entries found by name.
class DriverLibrary {
  public:
    explicit DriverLibrary(const std::string& name); // "Veldabus2Drv"
    ~DriverLibrary();
    void Unload();
    // `Fn` is the entry's pointer type (VexaDriver.h).
    template <typename Fn> Fn Entry(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

  private:
    void* Symbol(const char* name) const;
    void* m_handle = nullptr;
};
