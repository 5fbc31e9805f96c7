// A driver library found by name in one folder, loaded at the first use of
// any of its entries and never unloaded.
//
// The program finds its libraries beside itself (a build folder, a copied
// installation) or in ../lib/tarnvik relative to itself (an installed
// package: the program in bin/, the libraries under lib/).
#pragma once

#include <string>

class DriverLibrary {
  public:
    // name without prefix and extension ("Veldabus2Drv"); folder defaults
    // to the application folder.
    explicit DriverLibrary(std::string name, std::string folder = ApplicationFolder());
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // The entry's address; loads the library first when needed. Throws
    // ProtocolError (FileNotFound / LoadFailed).
    void* Entry(const char* entryName);
    template <typename Fn> Fn Bind(const char* entryName) {
        return reinterpret_cast<Fn>(Entry(entryName));
    }

    std::string Path() const;
    bool IsLoaded() const { return m_handle != nullptr; }

    // The folder of the running executable.
    static std::string ApplicationFolder();
    // The folder that holds lib<name>.so for a program in `programFolder`
    // (on Windows: the program's own folder, where <name>.dll lies):
    // the program's own folder when the library is there, else
    // ../lib/tarnvik when it is there, else the program's own folder.
    static std::string FolderFor(const std::string& name,
                                 const std::string& programFolder = ApplicationFolder());

  private:
    std::string m_name;
    std::string m_folder;
    void* m_handle = nullptr;
};

// One entry of a library, bound by its exact name at its first call.
template <typename Fn> class LazyEntry {
  public:
    LazyEntry(DriverLibrary& library, const char* name) : m_library(library), m_name(name) {}
    Fn operator*() {
        if (!m_fn) m_fn = m_library.Bind<Fn>(m_name);
        return m_fn;
    }

  private:
    DriverLibrary& m_library;
    const char* m_name;
    Fn m_fn = nullptr;
};
