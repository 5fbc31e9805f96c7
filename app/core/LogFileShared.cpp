// What the log file does alike on every system, on the calls of
// LogFilePlatform.h.
#include "core/LogFile.h"
#include "core/LogFilePlatform.h"

#include <cerrno>
#include <cstring>

using namespace logfile;

LogFile::~LogFile() {
    Close();
}

void LogFile::Begin(const std::string& path, const std::string& header) {
    Close();
    m_path = path;
    m_header = header;
    m_renewals = 0;
}

bool LogFile::StartStream(int fd, std::string& error) {
    m_stream = true;
    m_fd = fd;
    m_size = 0;
    if (WriteStream(m_fd, m_header, error)) return true;
    Close();
    return false;
}

bool LogFile::Adopt(int fd, std::string& error) {
    m_fd = fd;
    m_stream = false;
    if (!TakeOver(error)) {
        Close();
        return false;
    }
    m_pathCheckedMs = MonotonicMs();
    return true;
}

bool LogFile::Swap(int fd, std::string& error) {
    const int old = m_fd;
    const int64_t oldSize = m_size;
    m_fd = fd;
    if (!TakeOver(error)) {
        m_fd = old;
        m_size = oldSize;
        CloseDescriptor(fd);
        return false;
    }
    CloseDescriptor(old);
    m_pathCheckedMs = MonotonicMs();
    return true;
}

// Makes the open regular file the log: an empty one gets the header, one
// that starts with the header is continued at its end.
bool LogFile::TakeOver(std::string& error) {
    int64_t size = 0;
    if (!SizeOf(m_fd, size, error)) return false;
    m_size = 0;
    if (size == 0) return WriteAtEnd(m_header, error);
    std::string first(m_header.size(), '\0');
    std::string why;
    const int64_t n = ReadAt(m_fd, first.data(), first.size(), 0, why);
    if (n < 0) {
        error = "cannot read its first line: " + why;
        return false;
    }
    if (static_cast<size_t>(n) != first.size() || first != m_header) {
        error = "its first line is not the header of these channels";
        return false;
    }
    m_size = size;
    char last = '\n';
    if (ReadAt(m_fd, &last, 1, m_size - 1, why) != 1) last = '\n';
    // A row cut off by an earlier crash is ended, so the next row starts on a
    // line of its own.
    return last == '\n' || WriteAtEnd("\r\n", error);
}

bool LogFile::Append(const std::string& text, std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    if (m_stream) return WriteStream(m_fd, text, error);
    return FollowPath(error) && WriteAtEnd(text, error);
}

bool LogFile::Reopen(std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    return m_stream || ReopenAtPath(error);
}

void LogFile::Close() {
    CloseDescriptor(m_fd);
    m_fd = -1;
    m_size = 0;
    m_stream = false;
}
