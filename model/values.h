// How option and profile values are read as numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

// Lenient integer: blanks and tabs skipped, an optional sign, then decimal
// digits ("$" hexadecimal, "%" binary) up to the first other character; the
// low 32 bits of the reading; 0 without digits. "50%" reads 50, "abc" 0.
std::int32_t ReadLenientInteger(std::string_view text);
// The same reading kept to 64 bits, for dates.
std::int64_t ReadLenientInteger64(std::string_view text);

// Decimal real with "." whatever the locale, into a 32-bit float; the longest
// number at the start counts ("1,5" reads 1). "+Infinity", "-Infinity" and
// "NaN" in any case give those values; text that is no number gives 0.
float ReadReal(std::string_view text);

// A named colour and its six hexadecimal digits (red, green, blue).
struct NamedColour {
  std::string_view name;
  std::string_view digits;
};
// The names a colour option takes, in the manual's order.
std::span<const NamedColour> NamedColours();

// A colour as six upper-case hexadecimal digits, RRGGBB: from "#RRGGBB" or
// "RRGGBB", from "R,G,B" (decimal 0..255 each, blanks allowed around them) or
// from a name of the table (any letter case); none for anything else.
std::optional<std::string> ReadColour(std::string_view text);

}  // namespace kestrel
