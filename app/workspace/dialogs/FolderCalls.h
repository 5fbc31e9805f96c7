// The file-system calls under the folder rules, one file per system
// (FoldersPosix.cpp, FoldersWindows.cpp).
#pragma once

#include <string>

bool IsFolder(const std::string& path);
// Creates the last component of path: 0, or the errno of the failure.
int MakeFolder(const std::string& path);
