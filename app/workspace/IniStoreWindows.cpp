// Whole-file access to profile files on Windows.
#include "workspace/IniFile.h"

#include "base/ProgramPath.h"
#include "base/WindowsError.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes the handle when it goes.
class Handle {
  public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    // 0, or the errno of a failed close (a write-through failure shows here).
    int Close() {
        if (!IsOpen()) return 0;
        const BOOL closed = ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed ? 0 : LastWindowsErrno();
    }

  private:
    HANDLE m_handle;
};

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
    return ::CreateFileA(path.c_str(), access, ShareAll, nullptr, disposition,
                         flags ? flags : FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Only files on a disk: a device name (COM1, NUL) or a pipe is no profile file.
int DiskFileError(HANDLE file) {
    return ::GetFileType(file) == FILE_TYPE_DISK ? 0 : EINVAL;
}

// A device name reaches a device in any folder; Wine even reports NUL as a
// disk file, so the name itself is judged before anything is opened.
bool IsDeviceName(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH && std::string(full, n).rfind("\\\\.\\", 0) == 0;
}

int WriteAll(HANDLE file, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        if (!::WriteFile(file, text.data() + done, chunk, &written, nullptr))
            return LastWindowsErrno();
        if (written == 0) return ENOSPC;
        done += written;
    }
    return 0;
}

// A symbolic link (or junction) is followed, so the move replaces the file it
// names and the link stays.
std::string ResolveTarget(const std::string& file, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return file;
    Handle link(OpenFile(file, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    char buffer[MAX_PATH * 2];
    const DWORD length =
        link.IsOpen() ? ::GetFinalPathNameByHandleA(link.Get(), buffer, sizeof buffer, 0) : 0;
    if (length == 0 || length >= sizeof buffer) return file;
    std::string resolved(buffer, length);
    if (resolved.starts_with("\\\\?\\UNC\\"))
        resolved = "\\" + resolved.substr(7);
    else if (resolved.starts_with("\\\\?\\"))
        resolved = resolved.substr(4);
    return resolved;
}

// Writes the file over itself: its other names (hard links) and its access
// rules stay as they were.
int StoreInPlace(const std::string& target, const std::string& text) {
    Handle file(OpenFile(target, GENERIC_WRITE, OPEN_ALWAYS));
    if (!file.IsOpen()) return LastWindowsErrno();
    int error = DiskFileError(file.Get());
    if (error == 0) error = WriteAll(file.Get(), text);
    if (error == 0 && !::SetEndOfFile(file.Get())) error = LastWindowsErrno();
    if (error == 0 && !::FlushFileBuffers(file.Get())) error = LastWindowsErrno();
    const int closeError = file.Close();
    return error != 0 ? error : closeError;
}

} // namespace

int LoadIniText(const std::string& file, std::string& text) {
    text.clear();
    if (IsDeviceName(file)) return EINVAL;
    const DWORD attributes = ::GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastWindowsErrno();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    Handle handle(OpenFile(file, GENERIC_READ, OPEN_EXISTING));
    if (!handle.IsOpen()) return LastWindowsErrno();
    if (const int error = DiskFileError(handle.Get()); error != 0) return error;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.Get(), &size)) return LastWindowsErrno();
    if (static_cast<unsigned long long>(size.QuadPart) > MaxIniFileBytes) return EFBIG;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(handle.Get(), buffer, sizeof buffer, &n, nullptr)) {
            const int error = LastWindowsErrno();
            text.clear();
            return error;
        }
        if (n == 0) return 0;
        if (text.size() + n > MaxIniFileBytes) {
            text.clear();
            return EFBIG;
        }
        text.append(buffer, n);
    }
}

int StoreIniText(const std::string& file, const std::string& text) {
    if (file.empty()) return ENOENT;
    if (IsDeviceName(file)) return EINVAL;
    if (text.size() > MaxIniFileBytes) return EFBIG;
    const std::string target = ResolveTarget(file, ::GetFileAttributesA(file.c_str()));

    // The old file must be one we could have written in place: a read-only
    // workspace stays protected although its folder would allow the move.
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) return LastWindowsErrno();
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
    // Said by the attribute itself: an administrator's open would get through.
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return EACCES;
    if (exists) {
        Handle probe(OpenFile(target, GENERIC_WRITE, OPEN_EXISTING));
        if (!probe.IsOpen()) return LastWindowsErrno();
        if (const int error = DiskFileError(probe.Get()); error != 0) return error;
        // A move would give the other names of the file a copy of their own.
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(probe.Get(), &info) && info.nNumberOfLinks > 1) {
            probe.Close();
            return StoreInPlace(target, text);
        }
    }

    const std::size_t nameStart = FileNameStart(target);
    const std::string folder = target.substr(0, nameStart);
    const std::string base = target.substr(nameStart);
    if (base.empty()) return EISDIR;

    // The new file is hidden or a system file as the old one was.
    const DWORD kept = exists ? attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) : 0;
    static std::atomic<unsigned> serial{0};
    std::string temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder + "." + base + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(serial++);
        created = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                kept ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
        // A folder that takes no new file (only the file itself may be
        // written, or the temporary name is too long) still takes the save.
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return StoreInPlace(target, text);
    }
    if (created == INVALID_HANDLE_VALUE) return EEXIST;

    Handle temp(created);
    int error = WriteAll(temp.Get(), text);
    if (error == 0 && !::FlushFileBuffers(temp.Get())) error = LastWindowsErrno();
    if (const int closeError = temp.Close(); error == 0) error = closeError;
    if (error != 0) {
        ::DeleteFileA(temporary.c_str());
        return error;
    }
    // Write-through: the move is on the disk when it returns.
    if (::MoveFileExA(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD moveError = ::GetLastError();
    ::DeleteFileA(temporary.c_str());
    // A file that another program holds open without letting it be replaced
    // (but written) takes the save in place.
    if (exists && (moveError == ERROR_ACCESS_DENIED || moveError == ERROR_SHARING_VIOLATION))
        return StoreInPlace(target, text);
    return ErrnoFromWindowsError(moveError);
}
