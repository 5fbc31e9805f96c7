// Whole-file access to profile files on POSIX systems.
#include "workspace/IniFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int ReadAll(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        if (text.size() + static_cast<std::size_t>(n) > MaxIniFileBytes) return EFBIG;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

int WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int NotRegularError(const struct stat& st) {
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

// Opens file (non-blocking, so a FIFO in its place cannot hang the program)
// and checks that it is a regular file. fd is -1 when it could not be
// opened; otherwise it is open for the caller to close, whatever the result.
int OpenRegular(const std::string& file, int flags, int& fd, struct stat& st) {
    fd = open(file.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    if (fstat(fd, &st) != 0) return errno;
    return S_ISREG(st.st_mode) ? 0 : NotRegularError(st);
}

// A symbolic link is followed, so the rename replaces the file it names and
// the link stays.
std::string ResolveTarget(const std::string& file) {
    struct stat st;
    if (lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(file.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return resolved;
        }
    }
    return file;
}

// Writes the file over itself: its links, owner and group stay as they were.
// The room for the new text is taken first where the file system allows, so
// a full disk fails before a byte of the old text is overwritten.
int StoreInPlace(const std::string& target, const std::string& text) {
    int fd = -1;
    struct stat st;
    int error = OpenRegular(target, O_WRONLY | O_CREAT, fd, st);
    if (fd < 0) return error;
    if (error == 0 && static_cast<off_t>(text.size()) > st.st_size &&
        fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(text.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        error = errno;
    if (error == 0) error = WriteAll(fd, text);
    if (error == 0 && ftruncate(fd, static_cast<off_t>(text.size())) != 0) error = errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
}

} // namespace

int LoadIniText(const std::string& file, std::string& text) {
    text.clear();
    int fd = -1;
    struct stat st;
    int error = OpenRegular(file, O_RDONLY, fd, st);
    if (fd < 0) return error;
    if (error == 0 && static_cast<std::size_t>(st.st_size) > MaxIniFileBytes)
        error = EFBIG;
    else if (error == 0)
        error = ReadAll(fd, text);
    close(fd);
    if (error != 0) text.clear();
    return error;
}

int StoreIniText(const std::string& file, const std::string& text) {
    if (file.empty()) return ENOENT;
    if (text.size() > MaxIniFileBytes) return EFBIG;
    const std::string target = ResolveTarget(file);

    // The old file must be one we could have written in place: a read-only
    // workspace stays protected although its folder would allow the rename.
    struct stat st;
    bool exists = false;
    if (stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) return NotRegularError(st);
        const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0) return errno;
        close(probe);
    } else if (errno != ENOENT) {
        return errno;
    }
    // A rename would give the other names of the file a copy of their own and
    // the new file our owner: such a file is written where it is.
    if (exists && (st.st_nlink > 1 || st.st_uid != geteuid())) return StoreInPlace(target, text);

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return EISDIR;

    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder + "/." + base + ".tmp" + std::to_string(getpid()) + "-" +
                    std::to_string(serial++);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // A folder that takes no new file (only the file itself may be
        // written, or the temporary name is too long) still takes the save.
        if (fd < 0 && errno != EEXIST) return StoreInPlace(target, text);
    }
    if (fd < 0) return EEXIST;

    int error = 0;
    if (exists) {
        (void)fchmod(fd, st.st_mode & 07777);
        // A group we may not give the new file is kept by writing in place.
        if (fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
            close(fd);
            unlink(temporary.c_str());
            return StoreInPlace(target, text);
        }
    }
    error = WriteAll(fd, text);
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return error;
    }
    // The rename itself must survive a power cut; a folder that cannot be
    // flushed still holds the complete new file.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        close(dir);
    }
    return 0;
}
