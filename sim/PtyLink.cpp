#include "PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace vexasim {

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool MakeDirectories(const std::string& path, std::string& error) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = SystemError("cannot create " + part);
            return false;
        }
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

std::string LinkTarget(const std::string& link) {
    std::vector<char> buf(4096);
    const ssize_t n = readlink(link.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino && sa.st_rdev == sb.st_rdev;
}

// Clears what a stale entry leaves behind; false when the entry is someone's.
bool ClearOldEntry(const std::string& link, const std::string& device, bool replace,
                   std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) != 0) return true; // nothing there
    if (!S_ISLNK(st.st_mode)) {
        error = link + " exists and is no link; remove it or serve another name";
        return false;
    }
    const std::string target = LinkTarget(link);
    struct stat tst {};
    const bool dangling = stat(link.c_str(), &tst) != 0;
    if (!dangling && !replace && !SameFile(link, device)) {
        error = link + " already points to " + target +
                ", which exists (a mapped adapter or a running simulator); remove the link "
                "or run with --replace";
        return false;
    }
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        error = SystemError("cannot remove " + link);
        return false;
    }
    return true;
}

bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

std::unique_ptr<PtyLink> PtyLink::Create(const std::string& linkPath, bool replace,
                                         std::string& error) {
    std::unique_ptr<PtyLink> p(new PtyLink);
    p->m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p->m_master < 0 || grantpt(p->m_master) != 0 || unlockpt(p->m_master) != 0) {
        error = SystemError("cannot open a pseudo terminal");
        return nullptr;
    }
    char name[256];
    if (ptsname_r(p->m_master, name, sizeof name) != 0) {
        error = SystemError("cannot name the pseudo terminal");
        return nullptr;
    }
    p->m_device = name;
    p->m_slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p->m_slave < 0 || !MakeRaw(p->m_slave) || !MakeRaw(p->m_master)) {
        error = SystemError("cannot set up " + p->m_device);
        return nullptr;
    }
    p->m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (p->m_watch < 0 || inotify_add_watch(p->m_watch, name, IN_CLOSE) < 0) {
        error = SystemError("cannot watch " + p->m_device);
        return nullptr;
    }
    const size_t slash = linkPath.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        !MakeDirectories(linkPath.substr(0, slash), error))
        return nullptr;
    if (!ClearOldEntry(linkPath, p->m_device, replace, error)) return nullptr;
    if (symlink(name, linkPath.c_str()) != 0) {
        error = SystemError("cannot link " + linkPath);
        return nullptr;
    }
    p->m_link = linkPath;
    return p;
}

PtyLink::~PtyLink() {
    if (!m_link.empty() && LinkTarget(m_link) == m_device) unlink(m_link.c_str());
    for (int fd : {m_watch, m_slave, m_master})
        if (fd >= 0) close(fd);
}

void PtyLink::Reopened() {
    char events[4096];
    while (read(m_watch, events, sizeof events) > 0) {
    }
    ioctl(m_slave, TIOCNXCL);
    MakeRaw(m_slave);
}

} // namespace vexasim
