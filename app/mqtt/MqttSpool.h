// Messages kept on disk until the broker has acknowledged them. The folder
// holds "messages", an append-only file of records, and "acknowledged", the
// offset of the first record not yet acknowledged; a run that ends, crashes
// or is killed leaves the rest for the next run with the same folder.
// One thread at a time uses a spool; the file lock keeps a second process off.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SpoolMessage {
    std::string topic;
    std::string payload;
};

class MqttSpool {
  public:
    ~MqttSpool();
    // Opens (creating it) the spool in dir, bounded at maxBytes of messages
    // waiting; a record cut short by a crash is removed. Nothing and why in
    // error when the folder cannot be used.
    static std::optional<MqttSpool> Open(const std::string& dir, int64_t maxBytes,
                                         std::string& error);
    MqttSpool(MqttSpool&& other) noexcept;
    MqttSpool& operator=(MqttSpool&&) = delete;

    // Appends the messages and flushes them to the disk; beyond the bound the
    // oldest waiting ones are dropped (see Dropped). False (error set) when
    // they could not be stored: they are dropped too.
    bool Append(const std::vector<SpoolMessage>& messages, std::string& error);

    // The message at offset (from Front() on) and where the next begins;
    // nothing at the end.
    std::optional<SpoolMessage> Read(int64_t offset, int64_t& next);
    int64_t Front() const { return m_front; }
    int64_t End() const { return m_end; }
    // The message from offset to next (as Read gave them) was acknowledged,
    // and every one before it.
    void Acknowledge(int64_t offset, int64_t next);
    // Writes the acknowledged offset to the disk if it moved, once a second
    // at most; reclaims the file's space once the acknowledged part is
    // large. The final flush writes at once and reclaims what it can.
    // Returns by how much every offset moved down (0 mostly).
    int64_t Flush(bool final = false);

    int64_t Waiting() const { return m_waiting; } // messages not acknowledged
    int64_t Dropped() const { return m_dropped; } // by the bound, or not stored

  private:
    MqttSpool() = default;
    bool Scan(std::string& error);
    int64_t Compact();
    std::string m_dir;
    int m_fd = -1;
    int m_ackFd = -1;
    int64_t m_maxBytes = 0;
    int64_t m_front = 0; // first message not acknowledged
    int64_t m_end = 0;
    int64_t m_flushedFront = -1;
    std::chrono::steady_clock::time_point m_flushedAt{};
    int64_t m_waiting = 0;
    int64_t m_dropped = 0;
};
