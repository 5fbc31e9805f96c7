// A fresh temporary folder for one test. Test programs run side by side, so
// the name comes from mkdtemp (or, on Windows, from a folder creation that
// fails when the name is taken): no two processes can ever share a folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

// Creates <temp>/<prefix>-XXXXXX and returns its path; throws when it cannot.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto path =
            std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) return path;
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) return pattern;
#endif
    throw std::runtime_error("cannot create a temporary folder for " + prefix);
}
