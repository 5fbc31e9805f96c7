#include "IniFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

enum class LineKind { Other, Blank, Comment, Section, Entry };

struct Line {
    std::size_t begin = 0; // offset of the line in the text
    std::size_t next = 0;  // offset of the line after it
    std::string_view text; // without its line ending
    LineKind kind = LineKind::Other;
    std::string_view name;  // section name or key
    std::string_view value; // raw text after "=" of an entry
};

// The line at offset pos: a line ends at CR LF, LF or a lone CR (a CR left
// inside a value would reach an instrument as a second request), a missing
// final newline ends the last line all the same. Lines are taken one at a
// time, so no file makes the parser hold more than one.
bool NextLine(std::string_view text, std::size_t pos, Line& line) {
    if (pos >= text.size()) return false;
    const std::size_t end = text.find_first_of("\r\n", pos);
    line = Line();
    line.begin = pos;
    line.next = end == std::string_view::npos ? text.size() : end + 1;
    if (end != std::string_view::npos && text[end] == '\r' && line.next < text.size() &&
        text[line.next] == '\n')
        ++line.next;
    // A byte-order mark from an editor must not hide the first section.
    const std::size_t start = pos == 0 && text.starts_with("\xEF\xBB\xBF") ? 3 : pos;
    const std::string_view raw =
        text.substr(start, (end == std::string_view::npos ? text.size() : end) - start);
    line.text = raw;

    const std::string_view trimmed = Trim(raw);
    if (trimmed.empty()) {
        line.kind = LineKind::Blank;
    } else if (trimmed.front() == ';') {
        line.kind = LineKind::Comment;
    } else if (trimmed.front() == '[') {
        line.kind = LineKind::Section;
        const std::size_t close = trimmed.find(']');
        line.name = Trim(trimmed.substr(1, close == std::string_view::npos ? close : close - 1));
    } else if (const std::size_t equals = raw.find('='); equals != std::string_view::npos) {
        line.kind = LineKind::Entry;
        line.name = Trim(raw.substr(0, equals));
        line.value = raw.substr(equals + 1);
    }
    return true;
}

// Where a write goes: the entry the reader finds (the first of that key in
// any section of that name), else the end of the first such section.
struct Position {
    std::optional<Line> entry;
    std::optional<std::size_t> sectionEnd; // after the last non-blank line of the first section
};

Position Locate(std::string_view text, std::string_view section, std::string_view key) {
    Position found;
    bool inSection = false, inFirstSection = false;
    Line line;
    for (std::size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) {
            inSection = EqualNoCase(line.name, section);
            inFirstSection = inSection && !found.sectionEnd;
            if (inFirstSection) found.sectionEnd = line.next;
            continue;
        }
        if (!inSection) continue;
        if (line.kind == LineKind::Entry && EqualNoCase(line.name, key)) {
            found.entry = line;
            return found;
        }
        if (inFirstSection && line.kind != LineKind::Blank) found.sectionEnd = line.next;
    }
    return found;
}

std::string_view Unquote(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name must read back as itself: no blanks to be trimmed, nothing that
// would end or split the line.
bool IsWritableName(std::string_view name) {
    return !name.empty() && Trim(name) == name && !HasLineBreakOrNul(name);
}

// The entry's value as it must stand in the file to read back unchanged: a
// line break would split the entry, so it becomes a blank; a value the reader
// would trim or unquote gets one more pair of quotes.
std::string EncodeValue(std::string_view value) {
    std::string encoded;
    encoded.reserve(value.size() + 2);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            encoded += ' ';
        } else if (c != '\0') {
            encoded += c;
        }
    }
    if (Unquote(encoded) != encoded) encoded = '"' + encoded + '"';
    return encoded;
}

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
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = NotRegularError(st);
    else if (static_cast<off_t>(text.size()) > st.st_size &&
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

std::vector<std::string> IniReadEach(std::string_view text, std::string_view section,
                                     const std::vector<IniQuery>& queries) {
    std::unordered_map<std::string, std::vector<std::size_t>> wanted;
    for (std::size_t i = 0; i < queries.size(); ++i)
        wanted[Folded(queries[i].key)].push_back(i);

    std::vector<std::optional<std::string_view>> found(queries.size());
    std::size_t open = wanted.size();
    bool inSection = false;
    std::string key;
    Line line;
    for (std::size_t pos = 0; open > 0 && NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) inSection = EqualNoCase(line.name, section);
        if (!inSection || line.kind != LineKind::Entry) continue;
        key = Folded(line.name);
        const auto it = wanted.find(key);
        if (it == wanted.end()) continue;
        for (std::size_t i : it->second)
            found[i] = line.value;
        wanted.erase(it); // the first entry of a key wins
        --open;
    }

    std::vector<std::string> values;
    values.reserve(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
        const std::string_view value = found[i] ? Unquote(*found[i]) : std::string_view();
        if (value.empty())
            values.push_back(queries[i].defaultValue);
        else if (value == "*NULL*")
            values.emplace_back();
        else
            values.emplace_back(value);
    }
    return values;
}

std::string IniRead(std::string_view text, std::string_view section, std::string_view key,
                    const std::string& defaultValue) {
    return IniReadEach(text, section, {{std::string(key), defaultValue}}).front();
}

bool IniHasSection(std::string_view text, std::string_view section) {
    return Locate(text, section, {}).sectionEnd.has_value();
}

std::optional<std::string> IniWrite(std::string_view text, std::string_view section,
                                    std::string_view key, std::string_view value) {
    if (!IsWritableName(section) || section.find(']') != std::string_view::npos ||
        !IsWritableName(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
        key.front() == '[')
        return std::nullopt;

    const Position found = Locate(text, section, key);
    const std::string encoded = EncodeValue(value);

    std::string out;
    out.reserve(text.size() + key.size() + encoded.size() + section.size() + 8);
    auto emit = [&out](std::string_view a, std::string_view b = {}, std::string_view c = {}) {
        out.append(a).append(b).append(c).append("\r\n");
    };
    const bool adding = !found.entry;
    Line line;
    for (std::size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (!adding && line.begin == found.entry->begin) {
            emit(line.name, "=", encoded); // the key keeps its spelling in the file
            continue;
        }
        if (adding && found.sectionEnd == line.begin) emit(key, "=", encoded);
        emit(line.text);
    }
    if (adding && found.sectionEnd == text.size()) emit(key, "=", encoded);
    if (adding && !found.sectionEnd) {
        emit("[", section, "]");
        emit(key, "=", encoded);
    }
    return out;
}

int LoadIniText(const std::string& file, std::string& text) {
    text.clear();
    // Non-blocking, so a FIFO in the file's place cannot hang the program.
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = NotRegularError(st);
    else if (static_cast<std::size_t>(st.st_size) > MaxIniFileBytes)
        error = EFBIG;
    else
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

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& defaultValue) {
    std::string text;
    if (LoadIniText(file, text) != 0) return defaultValue;
    return IniRead(text, section, key, defaultValue);
}

bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
    std::string text;
    const int error = LoadIniText(file, text);
    if (error != 0 && error != ENOENT) return false;
    const std::optional<std::string> updated = IniWrite(text, section, key, value);
    return updated && StoreIniText(file, *updated) == 0;
}
