// Text helpers: strings are UTF-8 inside the program; case mapping is Unicode-aware.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
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

// The text as it is when it is valid UTF-8, else with each stray byte
// replaced by U+FFFD (glib's g_utf8_make_valid).
std::string MakeValidUtf8(std::string_view bytes);

// Text from an untrusted source made fit for one line of output: valid
// UTF-8, with every control character (line ends, escapes) a space, so that
// it can neither break a line nor forge one.
std::string OneLineOfText(std::string_view bytes);

// A file name fit for one line of a message: as it is unless it holds a
// control character; then in single quotes with each control character
// written as $'\n' or $'\ooo' between quoted runs (a quote as '\''), the
// form GNU ls and coreutils print and a shell reads back as the same name.
std::string QuotedFileName(std::string_view name);

// UTF-16 text stored big-endian, as files keep it, made UTF-8 (glib's
// decoder). The text ends at its first NUL: writers count a terminating NUL
// in the length, and nothing after one is text. A surrogate without its
// partner becomes U+FFFD, so damaged text still reads as far as it goes.
std::string Utf8FromUtf16BigEndian(std::span<const std::uint8_t> bytes);
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
