// A fresh temporary folder for one test. Test programs run side by side, so
// the name comes from mkdtemp (or, on Windows, from a folder creation that
// fails when the name is taken): no two processes can ever share a folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "support/FileBytes.h"

#include <gtest/gtest.h>

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

// A private folder per test, removed with everything in it afterwards (even
// after a test took its permissions away).
class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override { m_folder = MakeScratchFolder("tarnvik-test"); }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string Path(const std::string& name) const { return (m_folder / name).string(); }
    size_t EntryCount() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_folder),
                                                 std::filesystem::directory_iterator()));
    }
    std::filesystem::path m_folder;
};
