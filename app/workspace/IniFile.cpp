#include "workspace/IniFile.h"

#include <cerrno>
#include <unordered_map>

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
