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

constexpr NamedColour kNamedColours[] = {
    {"white", "FFFFFF"}, {"black", "000000"}, {"grey", "808080"},    {"gray", "808080"},
    {"silver", "C0C0C0"}, {"red", "FF0000"},  {"green", "008000"},   {"blue", "0000FF"},
    {"yellow", "FFFF00"}, {"cyan", "00FFFF"}, {"magenta", "FF00FF"},
};

// A decimal number 0..255 with blanks around it, or none.
std::optional<int> ReadColourComponent(std::string_view text) {
  text = TrimBlanksAndTabs(text);
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 255) return std::nullopt;
  return value;
}

}  // namespace

std::span<const NamedColour> NamedColours() { return kNamedColours; }

std::optional<std::string> ReadColour(std::string_view text) {
  text = TrimBlanksAndTabs(text);
  for (const NamedColour& colour : kNamedColours) {
    if (EqualsIgnoreCase(text, colour.name)) return std::string(colour.digits);
  }
  if (text.find(',') != std::string_view::npos) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    for (int i = 0; i < 3; ++i) {
      const auto comma = text.find(',');
      if ((comma == std::string_view::npos) != (i == 2)) return std::nullopt;
      const auto component = ReadColourComponent(text.substr(0, comma));
      if (!component) return std::nullopt;
      digits += kDigits[*component >> 4];
      digits += kDigits[*component & 15];
      text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return digits;
  }
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 6) return std::nullopt;
  std::string digits;
  for (const char c : text) {
    if (DigitValue(c) >= 16) return std::nullopt;
    digits += c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return digits;
}

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
