#include "model/values.h"

#include <charconv>
#include <limits>

#include "platform/text.h"

namespace kestrel {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::int64_t ReadLenientInteger64(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  std::uint64_t value = 0;  // wraps: callers keep the low bits they need
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<std::int64_t>(value);
}

std::int32_t ReadLenientInteger(std::string_view text) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadLenientInteger64(text)));
}

float ReadReal(std::string_view text) {
  const std::string_view trimmed = TrimBlanksAndTabs(text);
  if (EqualsIgnoreCase(trimmed, "+Infinity")) {
    return std::numeric_limits<float>::infinity();
  }
  if (EqualsIgnoreCase(trimmed, "-Infinity")) return -std::numeric_limits<float>::infinity();
  if (EqualsIgnoreCase(trimmed, "NaN")) return std::numeric_limits<float>::quiet_NaN();

  std::string_view number = trimmed;
  bool negative = false;
  if (!number.empty() && (number.front() == '+' || number.front() == '-')) {
    negative = number.front() == '-';
    number.remove_prefix(1);
  }
  // Only plain decimal numbers: no hexadecimal floats, no spelled-out infinities.
  if (number.empty() || !((number.front() >= '0' && number.front() <= '9') || number.front() == '.')) return 0.0f;
  float value = 0.0f;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                      std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Beyond a float: infinity for a large number, zero for one too small.
    const auto exponent = number.find_first_of("eE");
    const bool tiny = exponent != std::string_view::npos && exponent + 1 < number.size() && number[exponent + 1] == '-';
    value = tiny ? 0.0f : std::numeric_limits<float>::infinity();
  } else if (result.ec != std::errc()) {
    return 0.0f;
  }
  return negative ? -value : value;
}

}  // namespace kestrel
