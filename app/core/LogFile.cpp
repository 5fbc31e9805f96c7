#include "LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LogFile::~LogFile() {
    Close();
}

bool LogFile::Create(const std::string& path, std::string& error) {
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    m_fd = fd;
    m_size = 0;
    return true;
}

bool LogFile::Append(const std::string& text, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
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

void LogFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_size = 0;
}
