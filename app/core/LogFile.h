// The open log file: every line goes to the operating system as it is
// written (no buffering in the process), so a crash of the program loses at
// most the line being written; Sync() takes the lines to the disk against a
// power cut. A line that fails leaves nothing of itself in the file.
//
// A regular file is locked while it is open, so a second logger (of either
// program) cannot write into it. Rows always go to the end of the file: one
// emptied from outside (log rotation by copying and truncating) starts again
// with the header instead of a gap of NUL bytes, lines added from outside
// are kept, and a file deleted or moved away is noticed within a second or
// so and created anew at its path.
#pragma once

#include <cstdint>
#include <string>

// What Open does with a file that already holds data.
enum class LogFileMode {
    Replace, // empties it (the Save As dialog has asked first)
    Append,  // adds the rows after its own, when it has the same header
    NewOnly, // refuses it
};

// The path that stands for standard output.
inline constexpr const char* StandardOutputLog = "-";

class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path (created when missing) with header (its line end included)
    // as its first line. A FIFO that nobody reads is refused at once instead
    // of waiting for a reader. False (and why in error) when it cannot; the
    // file is then left as it was.
    bool Open(const std::string& path, LogFileMode mode, const std::string& header,
              std::string& error);
    // Appends text (its line end included), handing it to the system at
    // once. False (and why in error) when the whole text could not be
    // written; whatever part of it got in is cut off again.
    bool Append(const std::string& text, std::string& error);
    // Waits until the lines written so far are on the storage device.
    bool Sync(std::string& error);
    // Takes the file now at the path, appending (after log rotation): a file
    // new there gets the header first. On failure the old file stays open.
    // Pipes and devices have nothing to reopen.
    bool Reopen(std::string& error);
    // How often the file was found deleted or moved away, and created anew.
    int64_t Renewals() const { return m_renewals; }
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

  private:
    // The start of Open: the old file closed, the new one's path and header.
    void Begin(const std::string& path, const std::string& header);
    // Makes fd, a pipe, FIFO or device, the log; it gets the header.
    bool StartStream(int fd, std::string& error);
    // Makes fd, a regular file, the log; closes it when it cannot.
    bool Adopt(int fd, std::string& error);
    // Puts fd, the file now at the path, in place of the open one, which
    // stays when fd cannot be taken over.
    bool Swap(int fd, std::string& error);
    // Reopen of a regular file, on the system's calls.
    bool ReopenAtPath(std::string& error);
    bool TakeOver(std::string& error);
    bool WriteAtEnd(const std::string& text, std::string& error);
    bool FollowPath(std::string& error);

    int m_fd = -1;
    bool m_stream = false; // a pipe, FIFO or device: written in order, never cut back
    int64_t m_size = 0;    // bytes of whole lines in the file
    std::string m_path;
    std::string m_header;
    double m_pathCheckedMs = 0;
    int64_t m_renewals = 0;
};
