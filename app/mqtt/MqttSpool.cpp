#include "mqtt/MqttSpool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t HeaderBytes = 6; // record length (4), topic length (2), both little-endian
constexpr uint32_t LargestRecord = 1u << 28;
// The acknowledged part is given back to the disk from this size on: not
// after every row, where truncating and growing the file again would cost
// more than the messages themselves.
constexpr int64_t ReclaimBytes = 1 << 20;
// A stale offset on the disk only sends acknowledged messages once more
// after a power cut; it need not follow every acknowledgement.
constexpr auto OffsetInterval = std::chrono::seconds(1);

uint32_t Little(const unsigned char* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool ReadAll(int fd, void* data, size_t size, int64_t offset) {
    auto* out = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool WriteAll(int fd, const char* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// The length of the record at offset (header included), or 0 when there is
// no whole record there.
int64_t RecordLength(int fd, int64_t offset, int64_t end) {
    unsigned char header[HeaderBytes];
    if (end - offset < static_cast<int64_t>(HeaderBytes) ||
        !ReadAll(fd, header, HeaderBytes, offset))
        return 0;
    const uint32_t body = Little(header, 4);
    if (body < 2 || body > LargestRecord || Little(header + 4, 2) > body - 2) return 0;
    const int64_t length = 4 + static_cast<int64_t>(body);
    return offset + length <= end ? length : 0;
}

bool WriteOffset(int fd, int64_t offset) {
    char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>(static_cast<uint64_t>(offset) >> (8 * i));
    return WriteAll(fd, bytes, 8, 0) && ::fdatasync(fd) == 0;
}

} // namespace

MqttSpool::~MqttSpool() {
    if (m_fd >= 0) ::close(m_fd);
    if (m_ackFd >= 0) ::close(m_ackFd);
}

MqttSpool::MqttSpool(MqttSpool&& other) noexcept
    : m_dir(std::move(other.m_dir)), m_fd(other.m_fd), m_ackFd(other.m_ackFd),
      m_maxBytes(other.m_maxBytes), m_front(other.m_front), m_end(other.m_end),
      m_flushedFront(other.m_flushedFront), m_flushedAt(other.m_flushedAt),
      m_waiting(other.m_waiting), m_dropped(other.m_dropped) {
    other.m_fd = other.m_ackFd = -1;
}

std::optional<MqttSpool> MqttSpool::Open(const std::string& dir, int64_t maxBytes,
                                         std::string& error) {
    MqttSpool spool;
    spool.m_dir = dir;
    spool.m_maxBytes = maxBytes;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the spool folder " + dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    spool.m_fd = ::open((dir + "/messages").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    spool.m_ackFd = ::open((dir + "/acknowledged").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (spool.m_fd < 0 || spool.m_ackFd < 0) {
        error = "cannot open the spool in " + dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (::flock(spool.m_fd, LOCK_EX | LOCK_NB) != 0) {
        error = "the spool " + dir + " is in use by another tarnvik-log";
        return std::nullopt;
    }
    if (!spool.Scan(error)) return std::nullopt;
    return spool;
}

bool MqttSpool::Scan(std::string& error) {
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        error = "cannot read the spool in " + m_dir + ": " + std::strerror(errno);
        return false;
    }
    m_end = info.st_size;
    unsigned char bytes[8];
    int64_t front = 0;
    if (ReadAll(m_ackFd, bytes, 8, 0))
        front = static_cast<int64_t>(Little(bytes, 4)) | static_cast<int64_t>(Little(bytes + 4, 4))
                                                             << 32;
    // An offset past the end can only come from a damaged file: sending
    // everything again risks duplicates, never a loss.
    if (front < 0 || front > m_end) front = 0;
    m_front = front;
    m_flushedFront = front;
    for (int64_t at = front; at < m_end;) {
        const int64_t length = RecordLength(m_fd, at, m_end);
        if (length == 0) { // cut short by a crash in the middle of a write
            if (::ftruncate(m_fd, at) != 0) {
                error = "cannot repair the spool in " + m_dir + ": " + std::strerror(errno);
                return false;
            }
            m_end = at;
            break;
        }
        at += length;
        ++m_waiting;
    }
    return true;
}

bool MqttSpool::Append(const std::vector<SpoolMessage>& messages, std::string& error) {
    std::string bytes;
    for (const auto& message : messages) {
        const size_t topic = std::min<size_t>(message.topic.size(), 0xFFFF);
        const uint32_t body = static_cast<uint32_t>(2 + topic + message.payload.size());
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(body >> (8 * i));
        bytes += static_cast<char>(topic & 0xFF);
        bytes += static_cast<char>(topic >> 8);
        bytes.append(message.topic, 0, topic);
        bytes += message.payload;
    }
    if (!WriteAll(m_fd, bytes.data(), bytes.size(), m_end) || ::fdatasync(m_fd) != 0) {
        error = std::string("cannot write the spool: ") + std::strerror(errno);
        // Whatever part got there is cut off again, so that no half record
        // stands before the next ones.
        if (::ftruncate(m_fd, m_end) != 0) {
        }
        m_dropped += static_cast<int64_t>(messages.size());
        return false;
    }
    m_end += static_cast<int64_t>(bytes.size());
    m_waiting += static_cast<int64_t>(messages.size());
    while (m_end - m_front > m_maxBytes && m_waiting > 0) {
        const int64_t length = RecordLength(m_fd, m_front, m_end);
        if (length == 0) break;
        m_front += length;
        --m_waiting;
        ++m_dropped;
    }
    return true;
}

std::optional<SpoolMessage> MqttSpool::Read(int64_t offset, int64_t& next) {
    const int64_t length = offset >= m_front ? RecordLength(m_fd, offset, m_end) : 0;
    if (length == 0) return std::nullopt;
    std::string body(static_cast<size_t>(length - 4), '\0');
    if (!ReadAll(m_fd, body.data(), body.size(), offset + 4)) return std::nullopt;
    const size_t topic = Little(reinterpret_cast<const unsigned char*>(body.data()), 2);
    next = offset + length;
    return SpoolMessage{body.substr(2, topic), body.substr(2 + topic)};
}

void MqttSpool::Acknowledge(int64_t offset, int64_t next) {
    if (offset == m_front && next <= m_end) { // the usual case: no need to read the record
        m_front = next;
        --m_waiting;
        return;
    }
    while (m_front < next && m_front < m_end) {
        const int64_t length = RecordLength(m_fd, m_front, m_end);
        if (length == 0) break;
        m_front += length;
        --m_waiting;
    }
}

int64_t MqttSpool::Flush(bool final) {
    int64_t shift = 0;
    if (m_front == m_end && m_end > 0 && (final || m_end >= ReclaimBytes)) {
        // Everything acknowledged: the file starts afresh. The offset goes
        // to the disk first, so a crash in between only sends nothing twice.
        if (WriteOffset(m_ackFd, 0) && ::ftruncate(m_fd, 0) == 0) {
            shift = m_end;
            m_front = m_end = 0;
            m_flushedFront = 0;
        }
    } else if (m_front > std::max<int64_t>(m_maxBytes / 2, ReclaimBytes)) {
        shift = Compact();
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_front != m_flushedFront && (final || now - m_flushedAt >= OffsetInterval) &&
        WriteOffset(m_ackFd, m_front)) {
        m_flushedFront = m_front;
        m_flushedAt = now;
    }
    return shift;
}

int64_t MqttSpool::Compact() {
    // The waiting messages move to a new file. The offset is set to 0
    // before the new file replaces the old: a crash in between sends the
    // acknowledged part again (duplicates), never skips a message.
    const std::string path = m_dir + "/messages", fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    std::string chunk(1 << 20, '\0');
    bool ok = true;
    for (int64_t at = m_front; ok && at < m_end;) {
        const size_t size = static_cast<size_t>(std::min<int64_t>(chunk.size(), m_end - at));
        ok =
            ReadAll(m_fd, chunk.data(), size, at) && WriteAll(fd, chunk.data(), size, at - m_front);
        at += static_cast<int64_t>(size);
    }
    ok = ok && ::fdatasync(fd) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
         WriteOffset(m_ackFd, 0) && ::rename(fresh.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::close(fd);
        ::unlink(fresh.c_str());
        m_flushedFront = -1; // the offset on the disk may be 0 now: write it again
        return 0;
    }
    ::close(m_fd);
    m_fd = fd;
    const int64_t shift = m_front;
    m_end -= shift;
    m_front = 0;
    m_flushedFront = 0;
    return shift;
}
