// How option and profile values are read as numbers.
#pragma once

#include <cstdint>
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

}  // namespace kestrel
