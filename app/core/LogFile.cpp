#include "core/LogFile.h"
#include "core/LogFilePlatform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

using namespace logfile;

double logfile::MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

void logfile::CloseDescriptor(int fd) {
    if (fd >= 0) ::close(fd);
}

bool logfile::WriteStream(int fd, const std::string& text, std::string& error) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool logfile::SizeOf(int fd, int64_t& size, std::string& error) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    size = info.st_size;
    return true;
}

int64_t logfile::ReadAt(int fd, char* into, size_t size, int64_t offset, std::string& error) {
    const ssize_t n = ::pread(fd, into, size, static_cast<off_t>(offset));
    if (n < 0) error = std::strerror(errno);
    return n;
}

namespace {

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A regular file, locked against every other logger. Closes fd on failure.
bool LockFile(int fd, std::string& error) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return true;
    error = errno == EWOULDBLOCK ? "another logger is writing to this file" : std::strerror(errno);
    ::close(fd);
    return false;
}

} // namespace

bool LogFile::Open(const std::string& path, LogFileMode mode, const std::string& header,
                   std::string& error) {
    Begin(path, header);
    int fd = -1;
    struct stat info {};
    if (path == StandardOutputLog) {
        fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    } else if (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
        // Without a reader a FIFO would hold the open for ever; opened for
        // reading too, it would take the rows into nowhere.
        fd = OpenRetrying(path, O_WRONLY | O_NONBLOCK);
        if (fd < 0 && errno == ENXIO) {
            error = "no program is reading from this FIFO";
            return false;
        }
        if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else {
        // Never O_TRUNC: nothing may change before the lock is held.
        fd = OpenRetrying(path, O_RDWR | O_CREAT);
        if (fd < 0 && errno == EACCES) fd = OpenRetrying(path, O_WRONLY | O_CREAT);
    }
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        CloseDescriptor(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) return StartStream(fd, error);
    if (!LockFile(fd, error)) return false;
    if (mode == LogFileMode::NewOnly && info.st_size > 0) {
        error = "the file already holds data";
        ::close(fd);
        return false;
    }
    if (mode == LogFileMode::Replace) {
        while (::ftruncate(fd, 0) < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
    }
    return Adopt(fd, error);
}

// Notices a file emptied or written to from outside (at every row: the next
// row goes to its new end, never over those bytes) and a file deleted or
// moved away from its path (once a second).
bool LogFile::FollowPath(std::string& error) {
    struct stat own {};
    if (::fstat(m_fd, &own) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (own.st_size != m_size && !TakeOver(error)) return false;
    const double now = MonotonicMs();
    if (now - m_pathCheckedMs < PathCheckMs) return true;
    m_pathCheckedMs = now;
    struct stat atPath {};
    if (::stat(m_path.c_str(), &atPath) == 0 && SameFile(atPath, own)) return true;
    std::string why;
    if (Reopen(why)) {
        ++m_renewals;
        return true;
    }
    // A file moved away still takes the rows until its path can be used
    // again; rows into a deleted file would be lost unseen.
    if (own.st_nlink > 0) return true;
    error = "the file was deleted and cannot be created anew: " + why;
    return false;
}

bool LogFile::WriteAtEnd(const std::string& text, std::string& error) {
    size_t done = 0;
    while (done < text.size()) {
        // Written at the end of the last whole line, so a failed line can be
        // cut off again without leaving half a row for the next one to join.
        const ssize_t n = ::pwrite(m_fd, text.data() + done, text.size() - done,
                                   static_cast<off_t>(m_size + static_cast<int64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : ENOSPC);
            if (done > 0) {
                while (::ftruncate(m_fd, static_cast<off_t>(m_size)) < 0 && errno == EINTR) {
                }
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    m_size += static_cast<int64_t>(text.size());
    return true;
}

bool LogFile::ReopenAtPath(std::string& error) {
    const int fd = OpenRetrying(m_path, O_RDWR | O_CREAT);
    struct stat fresh {
    }, own{};
    if (fd < 0 || ::fstat(fd, &fresh) != 0 || ::fstat(m_fd, &own) != 0) {
        error = std::strerror(errno);
        CloseDescriptor(fd);
        return false;
    }
    if (SameFile(fresh, own)) {
        ::close(fd);
        return true;
    }
    if (!S_ISREG(fresh.st_mode)) {
        error = "it is no longer a regular file";
        ::close(fd);
        return false;
    }
    return LockFile(fd, error) && Swap(fd, error);
}

bool LogFile::Sync(std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    int rc;
    do {
        rc = ::fdatasync(m_fd);
    } while (rc < 0 && errno == EINTR);
    // Devices and pipes cannot be synchronised; their lines are already out.
    if (rc < 0 && errno != EINVAL && errno != EROFS) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}
