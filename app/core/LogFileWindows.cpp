// The log file on Windows. Opened without write sharing, so no other program
// can write into it or cut it while it is open; deleting or moving it away
// stays possible, and is noticed as on other systems. A byte-range lock far
// beyond any data marks the file as a logger's, so a second logger can say
// why it is refused.
#include "core/LogFile.h"
#include "core/LogFilePlatform.h"

#include "base/WindowsError.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace logfile;

namespace {

constexpr DWORD MarkerOffsetHigh = 0x40000000; // 4 EiB: never a real byte of a log

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Native(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

std::string LastErrorText() {
    return std::strerror(LastWindowsErrno());
}

OVERLAPPED At(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}

bool LockMarker(HANDLE file, DWORD flags) {
    OVERLAPPED at = At(static_cast<int64_t>(MarkerOffsetHigh) << 32);
    return ::LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Whether the logger's marker is held on the file at path.
bool HeldByLogger(const std::string& path) {
    const HANDLE probe = ::CreateFileA(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    const bool held = !LockMarker(probe, 0);
    ::CloseHandle(probe);
    return held;
}

// Opens (or creates) path for the log: others may read it, delete it or
// move it away, but not write. A file on a disk gets the marker lock.
HANDLE OpenForLog(const std::string& path, std::string& error) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        file = ::CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_SHARING_VIOLATION)
            error = HeldByLogger(path) ? "another logger is writing to this file"
                                       : "another program is using this file";
        else
            error = LastErrorText();
        return INVALID_HANDLE_VALUE;
    }
    if (::GetFileType(file) == FILE_TYPE_DISK && !LockMarker(file, LOCKFILE_EXCLUSIVE_LOCK)) {
        error = ::GetLastError() == ERROR_LOCK_VIOLATION ? "another logger is writing to this file"
                                                         : LastErrorText();
        ::CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// A descriptor that owns the handle, or -1 (the handle closed).
int AsDescriptor(HANDLE file, std::string& error) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0) {
        error = std::strerror(errno);
        ::CloseHandle(file);
    }
    return fd;
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// Whether path still names the open file.
bool PathNames(const std::string& path, HANDLE own) {
    const HANDLE atPath = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (atPath == INVALID_HANDLE_VALUE) return false;
    const bool same = SameFile(atPath, own);
    ::CloseHandle(atPath);
    return same;
}

// Deleted from outside: its name goes with the last handle on it.
bool IsDeleted(HANDLE file) {
    FILE_STANDARD_INFO info{};
    return ::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
           (info.DeletePending || info.NumberOfLinks == 0);
}

bool CutTo(HANDLE file, int64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = size;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

} // namespace

double logfile::MonotonicMs() {
    return static_cast<double>(::GetTickCount64());
}

void logfile::CloseDescriptor(int fd) {
    if (fd >= 0) ::_close(fd);
}

bool logfile::WriteStream(int fd, const std::string& text, std::string& error) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        if (!::WriteFile(Native(fd), text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                         nullptr) ||
            n == 0) {
            error =
                n == 0 && ::GetLastError() == ERROR_SUCCESS ? std::strerror(EIO) : LastErrorText();
            return false;
        }
        done += n;
    }
    return true;
}

bool logfile::SizeOf(int fd, int64_t& size, std::string& error) {
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(Native(fd), &value)) {
        error = LastErrorText();
        return false;
    }
    size = value.QuadPart;
    return true;
}

int64_t logfile::ReadAt(int fd, char* into, size_t size, int64_t offset, std::string& error) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    if (::ReadFile(Native(fd), into, static_cast<DWORD>(size), &n, &at)) return n;
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    error = LastErrorText();
    return -1;
}

bool LogFile::Open(const std::string& path, LogFileMode mode, const std::string& header,
                   std::string& error) {
    Begin(path, header);
    int fd = -1;
    if (path == StandardOutputLog) {
        fd = ::_dup(::_fileno(stdout));
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
    } else {
        const HANDLE file = OpenForLog(path, error);
        if (file == INVALID_HANDLE_VALUE || (fd = AsDescriptor(file, error)) < 0) return false;
    }
    // Standard output is written in order whatever it is: the file it may
    // stand for belongs to whoever redirected it.
    if (path == StandardOutputLog || ::GetFileType(Native(fd)) != FILE_TYPE_DISK)
        return StartStream(fd, error);
    int64_t size = 0;
    bool ok = SizeOf(fd, size, error);
    if (ok && mode == LogFileMode::NewOnly && size > 0) {
        error = "the file already holds data";
        ok = false;
    }
    if (ok && mode == LogFileMode::Replace && !CutTo(Native(fd), 0)) {
        error = LastErrorText();
        ok = false;
    }
    if (ok) return Adopt(fd, error);
    CloseDescriptor(fd);
    return false;
}

// Notices a file deleted or moved away from its path (once a second). Its
// size is compared at every row all the same, although no other program can
// write to it while it is open.
bool LogFile::FollowPath(std::string& error) {
    const HANDLE own = Native(m_fd);
    int64_t size = 0;
    if (!SizeOf(m_fd, size, error)) return false;
    if (size != m_size && !TakeOver(error)) return false;
    const double now = MonotonicMs();
    if (now - m_pathCheckedMs < PathCheckMs) return true;
    m_pathCheckedMs = now;
    // A deleted file may still be found at its path until it is closed.
    const bool deleted = IsDeleted(own);
    if (!deleted && PathNames(m_path, own)) return true;
    std::string why;
    if (Reopen(why)) {
        ++m_renewals;
        return true;
    }
    // A file moved away still takes the rows until its path can be used
    // again; rows into a deleted file would be lost unseen.
    if (!deleted) return true;
    error = "the file was deleted and cannot be created anew: " + why;
    return false;
}

bool LogFile::WriteAtEnd(const std::string& text, std::string& error) {
    const HANDLE file = Native(m_fd);
    size_t done = 0;
    while (done < text.size()) {
        // Written at the end of the last whole line, so a failed line can be
        // cut off again without leaving half a row for the next one to join.
        OVERLAPPED at = At(m_size + static_cast<int64_t>(done));
        DWORD n = 0;
        if (!::WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                         &at) ||
            n == 0) {
            error = n == 0 && ::GetLastError() == ERROR_SUCCESS ? std::strerror(ENOSPC)
                                                                : LastErrorText();
            if (done > 0) CutTo(file, m_size);
            return false;
        }
        done += n;
    }
    m_size += static_cast<int64_t>(text.size());
    return true;
}

bool LogFile::ReopenAtPath(std::string& error) {
    // A file deleted while it is open keeps its name until it is closed: it
    // is let go first, so the name is free for the new file.
    const bool deleted = IsDeleted(Native(m_fd));
    if (!deleted && PathNames(m_path, Native(m_fd))) return true;
    if (deleted) Close();
    const HANDLE file = OpenForLog(m_path, error);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        error = "it is no longer a regular file";
        ::CloseHandle(file);
        return false;
    }
    const int fd = AsDescriptor(file, error);
    return fd >= 0 && Swap(fd, error);
}

bool LogFile::Sync(std::string& error) {
    if (m_fd < 0) {
        error = std::strerror(EBADF);
        return false;
    }
    // A pipe would wait for its reader, a device has nothing to flush: their
    // lines are already out.
    if (m_stream) return true;
    if (!::FlushFileBuffers(Native(m_fd))) {
        error = LastErrorText();
        return false;
    }
    return true;
}
