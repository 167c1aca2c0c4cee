// INI-style text files: the command line's profiles and the windowed
// interface's preferences.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct IniEntry {
  std::string key;    // as written, without surrounding blanks and tabs
  std::string value;  // without surrounding blanks and tabs
};

struct IniGroup {
  std::string name;              // as written between "[" and "]"
  std::vector<IniEntry> entries; // in file order
};

// Every group of a file in file order. Key lines before the first group
// header belong to no group and are dropped.
struct IniFile {
  std::vector<IniGroup> groups;
};

// The file's bytes as UTF-8 text: after a UTF-8 byte-order mark the rest is
// UTF-8 (invalid sequences become U+FFFD); without the mark the bytes are
// taken as UTF-8 when they are valid UTF-8, as Latin-1 otherwise.
std::string DecodeIniBytes(std::span<const unsigned char> bytes);

// Splits decoded text into groups and key lines. Lines end with CR, LF or
// CR LF; leading blanks and tabs are skipped; ";" first on a line makes a
// comment; "[" opens a group named up to "]" or the line end. Any other line
// is a key line: the key is the text before the first "=", the value the text
// after it; a line without "=" is a key with an empty value.
IniFile ParseIniText(std::string_view text);

// Profiles and preferences are a few kilobytes; a longer file is no such file.
inline constexpr std::size_t kMaxIniFileBytes = std::size_t{1} << 20;

// Reads and parses a regular file; nothing when it cannot be opened or read
// (missing, a folder, a FIFO or device, no access) or is over kMaxIniFileBytes.
std::optional<IniFile> ReadIniFile(const std::string& path);

// The first group of that name, compared without regard to letter case.
const IniGroup* FindIniGroup(const IniFile& file, std::string_view name);

// The value of a key in a group (letter case ignored); a key given twice
// yields its later value.
const std::string* FindIniValue(const IniGroup& group, std::string_view key);
const std::string* FindIniValue(const IniFile& file, std::string_view group, std::string_view key);

}  // namespace kestrel
