// Where the running program lives: the application folder holds its driver
// libraries, its settings file and the files an installation puts beside it.
// With the path rules of the system the program runs on: "/" joins on Linux,
// "\" on Windows (where "/" is taken as a separator as well).
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// Full path of the running executable; empty when the system cannot tell.
std::string RunningProgramPath();

// Folder part of a path (the root for a file at the root, "." when there is
// none).
std::string FolderOf(const std::string& path);
// Where the file name starts after the last separator (0 when there is none).
std::size_t FileNameStart(const std::string& path);
// folder, a separator unless it ends in one, and name.
std::string JoinPath(const std::string& folder, const std::string& name);
// Whether a file or a folder exists at path.
bool PathExists(const std::string& path);
