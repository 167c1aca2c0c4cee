// Text helpers: strings are UTF-8 inside the program; case mapping is Unicode-aware.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kestrel {

// Owns a string that glib allocated (g_utf8_strup, g_utf8_make_valid...).
struct GlibFree {
  void operator()(char* text) const;
};
using GlibText = std::unique_ptr<char, GlibFree>;

// Unicode upper/lower case of UTF-8 text (glib). Bytes that are not valid UTF-8
// (a Latin-1 file name, say) are mapped as ASCII so no input is ever lost.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

std::string AsciiUpper(std::string_view text);

// Appends one Unicode code point to UTF-8 text (glib's encoder).
void AppendUtf8(std::string& text, char32_t codePoint);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Removes space characters (only U+0020) at both ends.
std::string_view TrimBlanks(std::string_view text);
// Removes spaces and tab characters at both ends.
std::string_view TrimBlanksAndTabs(std::string_view text);

bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);

// Replaces every occurrence of `from` (matched without regard to ASCII case),
// scanning left to right without overlap; inserted text is not scanned again.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view from, std::string_view to);

}  // namespace kestrel
