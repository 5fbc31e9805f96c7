// INIFileModule: the one access path to profile (INI) files, the workspace
// files and the settings file alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The value of key in section (both matched without regard to case), blanks
// around it and one pair of enclosing quotes removed; "*NULL*" reads as empty
// text. defaultValue when the file, the section or the key is missing or the
// value is empty.
std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& defaultValue);

// Writes one entry: replaces the value of an existing key in place, adds a
// new key at the end of its section, a missing section at the end of the file,
// and creates a missing file. The file is stored whole as StoreIniText does.
// false when the file could not be written or the section or key name cannot
// stand in an INI file.
bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value);

// Files beyond this size are not profile files; they are neither read nor
// rewritten, so junk cannot make the program allocate without bound.
constexpr std::size_t MaxIniFileBytes = std::size_t{16} << 20;

// The same rules as pure functions over a file's bytes, for callers that hold
// the text already (a whole workspace read from one snapshot) and for fuzzing.
std::string IniRead(std::string_view text, std::string_view section, std::string_view key,
                    const std::string& defaultValue);
// The values of several keys of one section, each as IniRead gives it, in
// one pass over the text.
struct IniQuery {
    std::string key;
    std::string defaultValue;
};
std::vector<std::string> IniReadEach(std::string_view text, std::string_view section,
                                     const std::vector<IniQuery>& queries);
// Whether text has a section of that name (matched without regard to case).
bool IniHasSection(std::string_view text, std::string_view section);
// The file's new text, or nullopt when section or key cannot be written.
std::optional<std::string> IniWrite(std::string_view text, std::string_view section,
                                    std::string_view key, std::string_view value);

// Whole-file access with the layer's rules: only regular files up to
// MaxIniFileBytes are read; storing writes a temporary file beside the target,
// flushes it to disk and renames it over the target, so a failed store leaves
// the old file as it was. Where the folder takes no new file, or the target
// has further hard links or another owner, or a group the new file could not
// get, the target is written whole in place and flushed instead, keeping its
// links, owner and group. Both return 0 or the errno of the failure.
int LoadIniText(const std::string& file, std::string& text);
int StoreIniText(const std::string& file, const std::string& text);
