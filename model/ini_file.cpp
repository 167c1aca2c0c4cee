#include "model/ini_file.h"

#include <glib.h>


#include "platform/files.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

std::string Latin1ToUtf8(std::span<const unsigned char> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    if (byte < 0x80) {
      text += static_cast<char>(byte);
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

bool IsValidUtf8(std::span<const unsigned char> bytes) {
  return g_utf8_validate_len(reinterpret_cast<const gchar*>(bytes.data()), bytes.size(), nullptr);
}


// Calls `line` for each line of text; CR, LF and CR LF all end a line.
template <typename LineFn>
void ForEachLine(std::string_view text, LineFn line) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      line(text.substr(start));
      return;
    }
    line(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

}  // namespace

std::string DecodeIniBytes(std::span<const unsigned char> bytes) {
  if (bytes.size() >= sizeof kByteOrderMark && std::equal(std::begin(kByteOrderMark), std::end(kByteOrderMark),
                                                          bytes.begin())) {
    const auto text = bytes.subspan(sizeof kByteOrderMark);
    return MakeValidUtf8(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  }
  if (IsValidUtf8(bytes)) return std::string(bytes.begin(), bytes.end());
  return Latin1ToUtf8(bytes);
}

IniFile ParseIniText(std::string_view text) {
  IniFile file;
  ForEachLine(text, [&file](std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return;
    line.remove_prefix(first);
    if (line.front() == ';') return;
    if (line.front() == '[') {
      const std::string_view rest = line.substr(1);
      file.groups.push_back(IniGroup{std::string(rest.substr(0, rest.find(']'))), {}});
      return;
    }
    if (file.groups.empty()) return;
    const auto equals = line.find('=');
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
    file.groups.back().entries.push_back(
        IniEntry{std::string(TrimBlanksAndTabs(key)), std::string(TrimBlanksAndTabs(value))});
  });
  return file;
}

std::optional<IniFile> ReadIniFile(const std::string& path) {
  const auto bytes = ReadWholeFile(path, kMaxIniFileBytes);
  if (!bytes) return std::nullopt;
  return ParseIniText(DecodeIniBytes(*bytes));
}

const IniGroup* FindIniGroup(const IniFile& file, std::string_view name) {
  for (const IniGroup& group : file.groups) {
    if (EqualsIgnoreCase(group.name, name)) return &group;
  }
  return nullptr;
}

const std::string* FindIniValue(const IniGroup& group, std::string_view key) {
  for (auto entry = group.entries.rbegin(); entry != group.entries.rend(); ++entry) {
    if (EqualsIgnoreCase(entry->key, key)) return &entry->value;
  }
  return nullptr;
}

const std::string* FindIniValue(const IniFile& file, std::string_view group, std::string_view key) {
  const IniGroup* found = FindIniGroup(file, group);
  return found == nullptr ? nullptr : FindIniValue(*found, key);
}

}  // namespace kestrel
