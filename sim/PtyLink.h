// One served port: a pseudo terminal in raw mode, linked under a name
// (COM<N> or a USB serial number) in a folder where drivers look for ports.
#pragma once

#include <memory>
#include <string>

namespace vexasim {

class PtyLink {
  public:
    // Opens the terminal and links `linkPath` to its device, creating the
    // folder. An existing entry is replaced only when it is a dangling link,
    // a link to this very device, or `replace` is set; anything else (a real
    // adapter's mapping, another simulator's port) is left alone: nullptr,
    // with the reason in `error`.
    static std::unique_ptr<PtyLink> Create(const std::string& linkPath, bool replace,
                                           std::string& error);
    // Removes the link unless it no longer points to this terminal.
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    int MasterFd() const { return m_master; }
    // Readable when a program has closed the device: call Reopened() then.
    int WatchFd() const { return m_watch; }
    // Gets the device ready for its next user: an exclusive hold taken by the
    // last one outlives its close on a pseudo terminal and would turn the
    // next open away, and the line is put back into raw mode.
    void Reopened();

    const std::string& DevicePath() const { return m_device; }
    const std::string& LinkPath() const { return m_link; }

  private:
    PtyLink() = default;

    int m_master = -1;
    int m_slave = -1; // held, so the line never hangs up between users
    int m_watch = -1;
    std::string m_device;
    std::string m_link;
};

} // namespace vexasim
