// Where the running program lives: the application folder holds its driver
// libraries, its settings file and the files an installation puts beside it.
#pragma once

#include <string>

// Full path of the running executable; empty when the system cannot tell.
std::string RunningProgramPath();

// Folder part of a path ("/" for a file at the root, "." when there is none).
std::string FolderOf(const std::string& path);
