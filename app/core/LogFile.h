// The open log file: every line goes to the operating system as it is
// written (no buffering in the process), so a crash of the program loses at
// most the line being written; Sync() takes the lines to the disk against a
// power cut. A line that fails leaves nothing of itself in the file.
#pragma once

#include <cstdint>
#include <string>

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates path, or empties it. False (and why in error) when it cannot.
    bool Create(const std::string& path, std::string& error);
    // Appends text (its line end included), handing it to the system at
    // once. False (and why in error) when the whole text could not be
    // written; whatever part of it got in is cut off again.
    bool Append(const std::string& text, std::string& error);
    // Waits until the lines written so far are on the storage device.
    bool Sync(std::string& error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
    int64_t m_size = 0; // bytes of whole lines in the file
};
