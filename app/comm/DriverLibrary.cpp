#include "comm/DriverLibrary.h"

#include "comm/ProtocolModule.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ProgramPath.h"
#include <cerrno>

#include <cstring>
#include <vector>

DriverLibrary::DriverLibrary(std::string name, std::string folder)
    : m_name(std::move(name)), m_folder(std::move(folder)) {}

std::string DriverLibrary::Path() const {
    return m_folder + "/lib" + m_name + ".so";
}

std::string DriverLibrary::ApplicationFolder() {
    return FolderOf(RunningProgramPath());
}

std::string DriverLibrary::FolderFor(const std::string& name, const std::string& programFolder) {
    const std::string file = "/lib" + name + ".so";
    const std::string installed = programFolder + "/../lib/tarnvik";
    struct stat info {};
    if (stat((programFolder + file).c_str(), &info) != 0 &&
        stat((installed + file).c_str(), &info) == 0)
        return installed;
    return programFolder;
}

void* DriverLibrary::Entry(const char* entryName) {
    if (!m_handle) {
        const std::string path = Path();
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            const int error = errno;
            throw ProtocolError(ProtocolError::Kind::FileNotFound,
                                "Cannot find driver library " + path + ": " + std::strerror(error));
        }
        // Never unloaded: unloading is what closes a serial driver's port,
        // and that belongs to the end of the program.
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            const char* why = dlerror();
            throw ProtocolError(ProtocolError::Kind::LoadFailed, "Cannot load driver library " +
                                                                     path + ": " +
                                                                     (why ? why : "unknown error"));
        }
    }
    dlerror();
    void* address = dlsym(m_handle, entryName);
    if (!address) {
        throw ProtocolError(ProtocolError::Kind::LoadFailed,
                            "Driver library " + Path() + " has no entry " + entryName);
    }
    return address;
}
