// The driver libraries on Windows: "<Name>.dll" beside the program, loaded
// with LoadLibraryA and bound with GetProcAddress.
#include "comm/DriverLibrary.h"

#include "base/ProgramPath.h"
#include "base/WindowsError.h"
#include "comm/ProtocolModule.h"

#include <windows.h>

#include <cstring>

namespace {

std::string SystemMessage(DWORD error) {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

} // namespace

DriverLibrary::DriverLibrary(std::string name, std::string folder)
    : m_name(std::move(name)), m_folder(std::move(folder)) {}

std::string DriverLibrary::Path() const {
    return JoinPath(m_folder, m_name + ".dll");
}

std::string DriverLibrary::ApplicationFolder() {
    return FolderOf(RunningProgramPath());
}

// A Windows installation keeps the DLLs beside the program, which is also
// where the system itself looks first.
std::string DriverLibrary::FolderFor(const std::string&, const std::string& programFolder) {
    return programFolder;
}

void* DriverLibrary::Entry(const char* entryName) {
    if (!m_handle) {
        const std::string path = Path();
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const int error = attributes == INVALID_FILE_ATTRIBUTES ? LastWindowsErrno() : EISDIR;
            throw ProtocolError(ProtocolError::Kind::FileNotFound,
                                "Cannot find driver library " + path + ": " + std::strerror(error));
        }
        // By its full path: never a same-named library from the current
        // folder or PATH.
        m_handle = ::LoadLibraryA(path.c_str());
        const DWORD error = ::GetLastError();
        // Never unloaded: unloading is what closes a serial driver's port,
        // and that belongs to the end of the program.
        if (!m_handle) {
            throw ProtocolError(ProtocolError::Kind::LoadFailed,
                                "Cannot load driver library " + path + ": " + SystemMessage(error));
        }
    }
    const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(m_handle), entryName);
    if (!address) {
        throw ProtocolError(ProtocolError::Kind::LoadFailed,
                            "Driver library " + Path() + " has no entry " + entryName);
    }
    return reinterpret_cast<void*>(address);
}
