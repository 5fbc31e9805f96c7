// Temporary folders for the tests. Test programs run side by side, so
// folder names come from mkdtemp: no two processes can ever share a folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "FileBytes.h"

#include <gtest/gtest.h>

// Creates <temp>/<prefix>-XXXXXX and returns its path; throws when it cannot.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder for " + prefix);
    return pattern;
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
