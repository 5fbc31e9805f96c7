#include "support/PtyInstrument.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string ToText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

size_t BusFramer(const Bytes& p) {
    if (p.empty()) return 0;
    if (p[0] != 0xFE) return 1; // stray byte: a request of its own
    if (p.size() < 3) return 0;
    const size_t size = (p[2] & 0x80) ? 5 : 13;
    return p.size() >= size ? size : 0;
}

size_t AsciiFramer(const Bytes& p) {
    for (size_t i = 0; i < p.size(); ++i)
        if (p[i] == '\r') return i + 1;
    return 0;
}

PtyInstrument::PtyInstrument() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo terminal");
    m_slavePath = ptsname(m_master);
    termios tio{};
    tcgetattr(m_master, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_master, TCSANOW, &tio);
    m_slaveHold = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pipe2(m_wake, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    m_thread = std::thread([this] { Run(); });
}

PtyInstrument::~PtyInstrument() {
    m_stop = true;
    (void)!write(m_wake[1], "x", 1);
    m_thread.join();
    for (int fd : {m_master, m_slaveHold, m_wake[0], m_wake[1]})
        if (fd >= 0) close(fd);
}

void PtyInstrument::LinkAs(const std::string& dir, const std::string& name) const {
    const std::string link = dir + "/" + name;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(m_slavePath, link);
}

void PtyInstrument::Serve(Framer framer, Responder responder, Pacer pacer) {
    std::lock_guard lock(m_mutex);
    m_framer = std::move(framer);
    m_responder = std::move(responder);
    m_pacer = std::move(pacer);
}

void PtyInstrument::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("pty write failed");
        done += static_cast<size_t>(n);
    }
}

Bytes PtyInstrument::Received(size_t atLeast) {
    std::unique_lock lock(m_mutex);
    // Bounded only so a broken driver fails the test instead of hanging it.
    m_changed.wait_for(lock, std::chrono::seconds(10),
                       [&] { return m_received.size() >= atLeast; });
    return m_received;
}

void PtyInstrument::Run() {
    uint8_t buf[4096];
    using std::chrono::steady_clock;
    while (!m_stop) {
        while (!m_due.empty() && m_due.front().at <= steady_clock::now()) {
            Send(m_due.front().reply);
            m_due.erase(m_due.begin());
        }
        int waitMs = -1;
        if (!m_due.empty())
            waitMs = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(m_due.front().at - steady_clock::now())
                    .count());
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, waitMs) <= 0) continue;
        if (fds[1].revents) break;
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n <= 0) continue;
        std::vector<Due> replies;
        {
            std::lock_guard lock(m_mutex);
            m_received.insert(m_received.end(), buf, buf + n);
            m_pending.insert(m_pending.end(), buf, buf + n);
            while (m_framer) {
                const size_t size = m_framer(m_pending);
                if (size == 0) break;
                const Bytes request(m_pending.begin(), m_pending.begin() + size);
                m_pending.erase(m_pending.begin(), m_pending.begin() + size);
                if (m_responder) {
                    Bytes reply = m_responder(request, m_requests);
                    const int delayMs = m_pacer ? m_pacer(request, m_requests) : 0;
                    replies.push_back({steady_clock::now() + std::chrono::milliseconds(delayMs),
                                       std::move(reply)});
                }
                ++m_requests;
            }
        }
        m_changed.notify_all();
        for (Due& r : replies)
            if (!r.reply.empty()) m_due.push_back(std::move(r));
        std::stable_sort(m_due.begin(), m_due.end(),
                         [](const Due& a, const Due& b) { return a.at < b.at; });
    }
}

TempFolder::TempFolder() : m_path(MakeScratchFolder("vexa-test").string()) {}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

DriverLibrary::DriverLibrary(const std::string& name) {
    const std::string path = std::string(DRIVER_DIR) + "/lib" + name + ".so";
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) ADD_FAILURE() << dlerror();
}

DriverLibrary::~DriverLibrary() {
    Unload();
}

void DriverLibrary::Unload() {
    if (m_handle) dlclose(m_handle);
    m_handle = nullptr;
}

void* DriverLibrary::Symbol(const char* name) const {
    void* sym = m_handle ? dlsym(m_handle, name) : nullptr;
    if (!sym) throw std::runtime_error(std::string("missing entry ") + name);
    return sym;
}
