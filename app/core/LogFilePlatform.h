// The system calls under LogFile, one set per system (LogFile.cpp on POSIX
// systems, LogFileWindows.cpp on Windows); LogFileShared.cpp builds what the
// two have in common on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace logfile {

// How often the path is compared with the open file.
inline constexpr double PathCheckMs = 1000;

double MonotonicMs();
// Nothing for -1.
void CloseDescriptor(int fd);
// Writes all of text where the stream stands.
bool WriteStream(int fd, const std::string& text, std::string& error);
bool SizeOf(int fd, int64_t& size, std::string& error);
// Reads up to size bytes at offset: the count read, or -1 with why in error.
int64_t ReadAt(int fd, char* into, size_t size, int64_t offset, std::string& error);

} // namespace logfile
