// A fresh temporary folder for one test. Test programs run side by side, so
// the name comes from mkdtemp: no two processes can ever share a folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// Creates <temp>/<prefix>-XXXXXX and returns its path; throws when it cannot.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder for " + prefix);
    return pattern;
}
