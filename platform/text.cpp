#include "platform/text.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace kestrel {
namespace {

std::string MapCase(std::string_view text, bool upper) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    const GlibText mapped(upper ? g_utf8_strup(text.data(), static_cast<gssize>(text.size()))
                                : g_utf8_strdown(text.data(), static_cast<gssize>(text.size())));
    return std::string(mapped.get());
  }
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void GlibFree::operator()(char* text) const { g_free(text); }

std::string UpperCase(std::string_view text) { return MapCase(text, true); }
std::string LowerCase(std::string_view text) { return MapCase(text, false); }

std::string AsciiUpper(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpperChar);
  return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiUpperChar(x) == AsciiUpperChar(y); });
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view TrimBlanksAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
bool EndsWith(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + from.size() <= text.size() && EqualsIgnoreCase(text.substr(i, from.size()), from)) {
      result += to;
      i += from.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
  char encoded[6];
  const gint length = g_unichar_to_utf8(static_cast<gunichar>(codePoint), encoded);
  text.append(encoded, static_cast<std::size_t>(length));
}

std::string MakeValidUtf8(std::string_view bytes) {
  if (g_utf8_validate_len(bytes.data(), bytes.size(), nullptr)) return std::string(bytes);
  const GlibText valid(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
  return std::string(valid.get());
}

std::string OneLineOfText(std::string_view bytes) {
  // Control bytes are never part of a longer UTF-8 character, so they go first.
  std::string text(bytes);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return MakeValidUtf8(text);
}

std::string QuotedFileName(std::string_view name) {
  const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  if (std::none_of(name.begin(), name.end(), control)) return std::string(name);
  // Runs of plain characters go inside '...', runs of control characters inside $'...'.
  static constexpr const char* kNamed[] = {"\\a", "\\b", "\\t", "\\n", "\\v", "\\f", "\\r"};
  std::string quoted = "'";
  bool escaping = false;
  for (const char c : name) {
    if (control(c) != escaping) {
      quoted += escaping ? "''" : "'$'";
      escaping = !escaping;
    }
    const auto code = static_cast<unsigned char>(c);
    if (!escaping) {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    } else if (code >= '\a' && code <= '\r') {
      quoted += kNamed[code - '\a'];
    } else {
      quoted += {'\\', static_cast<char>('0' + (code >> 6)), static_cast<char>('0' + ((code >> 3) & 7)),
                 static_cast<char>('0' + (code & 7))};
    }
  }
  return quoted + "'";
}

std::string Utf8FromUtf16BigEndian(std::span<const std::uint8_t> bytes) {
  std::vector<gunichar2> units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<gunichar2>(bytes[i] << 8 | bytes[i + 1]);
    if (unit == 0) break;
    units.push_back(unit);
  }
  // glib refuses unpaired surrogates, so they are replaced first.
  for (std::size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] < 0xDC00;
    const bool low = units[i] >= 0xDC00 && units[i] < 0xE000;
    const bool paired = high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000;
    if (paired) ++i;
    else if (high || low) units[i] = 0xFFFD;
  }
  if (units.empty()) return {};
  glong written = 0;
  const GlibText text(g_utf16_to_utf8(units.data(), static_cast<glong>(units.size()), nullptr, &written, nullptr));
  return text ? std::string(text.get(), static_cast<std::size_t>(written)) : std::string();
}

}  // namespace kestrel
