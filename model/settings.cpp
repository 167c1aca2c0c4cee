#include "model/settings.h"

#include <charconv>

#include "platform/text.h"

namespace kestrel {
namespace {

constexpr SettingRow kRows[] = {
#define SETTING(id, key, kind, def, set, opt, optName, profileKey, extra, extraValue, label, group, prefKey, \
                width, saved, missing, ...)                                                              \
  {SettingId::id, key, ValueKind::kind, def, KeywordSet::set, OptionClass::opt, optName, profileKey,       \
   SettingId::extra, extraValue, label __VA_OPT__(, ValueRange{__VA_ARGS__})},
#include "model/setting_rows.inc"
#undef SETTING
};

static_assert(std::size(kRows) == kSettingCount);

constexpr PreferenceRow kPreferenceRows[] = {
#define SETTING(id, key, kind, def, set, opt, optName, profileKey, extra, extraValue, label, group, prefKey, \
                width, saved, missing, ...)                                                              \
  {SettingId::id, group, prefKey, PreferenceWidth::width, PreferenceSaved::saved, missing},
#include "model/setting_rows.inc"
#undef SETTING
};

constexpr bool RowsFollowIds() {
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    if (static_cast<std::size_t>(kRows[i].id) != i) return false;
  }
  return true;
}
static_assert(RowsFollowIds());

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads hexadecimal digits until the first character that is not one.
int ReadHexPair(std::string_view pair) {
  int value = 0;
  for (char c : pair) {
    const int digit = HexDigit(c);
    if (digit < 0) break;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

std::span<const PreferenceRow> PreferenceRows() { return kPreferenceRows; }

const SettingRow& RowOf(SettingId id) { return kRows[static_cast<std::size_t>(id)]; }

const SettingRow* FindRowByOption(std::string_view upperName) {
  for (const auto& row : kRows) {
    if (!row.optionName.empty() && row.optionName == upperName) return &row;
  }
  return nullptr;
}

const SettingRow* FindRowByProfileKey(std::string_view upperKey) {
  for (const auto& row : kRows) {
    if (!row.profileKey.empty() && row.profileKey == upperKey) return &row;
  }
  return nullptr;
}

bool WithinRange(const Settings& settings, SettingId id) {
  const SettingRow& row = RowOf(id);
  if (!row.range) return true;
  if (row.kind == ValueKind::Real) {
    const float value = settings.Real(id);
    return value >= static_cast<float>(row.range->low) && value <= static_cast<float>(row.range->high);
  }
  const double value = settings.Int(id);
  return value >= row.range->low && value <= row.range->high;
}

void Settings::SetNumber(SettingId id, std::int64_t value) {
  switch (RowOf(id).kind) {
    case ValueKind::Flag:
    case ValueKind::Kw8:
      At(id).number = static_cast<std::uint8_t>(value);
      break;
    case ValueKind::Int:
    case ValueKind::Kw32:
      At(id).number = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
      break;
    default:
      At(id).number = value;
      break;
  }
}

void SetDefaultSettings(Settings& settings, bool aspectOff, std::int64_t now,
                        std::string_view firstSource, std::string_view firstTarget) {
  for (const auto& row : kRows) {
    switch (row.kind) {
      case ValueKind::Text:
      case ValueKind::Colour:
        settings.SetText(row.id, std::string(row.defaultValue));
        break;
      case ValueKind::Real: {
        float value = 0.0f;
        std::from_chars(row.defaultValue.data(), row.defaultValue.data() + row.defaultValue.size(), value);
        settings.SetReal(row.id, value);
        break;
      }
      case ValueKind::Date:
        settings.SetNumber(row.id, now);
        break;
      default: {
        std::int64_t value = 0;
        std::from_chars(row.defaultValue.data(), row.defaultValue.data() + row.defaultValue.size(), value);
        settings.SetNumber(row.id, value);
        break;
      }
    }
  }
  settings.SetNumber(SettingId::KeepAspectRatio, aspectOff ? 0 : 1);
  settings.SetText(SettingId::InputFormat, std::string(firstSource));
  settings.SetText(SettingId::OutputFormat, std::string(firstTarget));
}

std::uint32_t PackColourText(std::string_view text, int alpha) {
  if (text.size() != 6) return static_cast<std::uint32_t>(alpha & 0xFF) << 24;
  const auto red = static_cast<std::uint32_t>(ReadHexPair(text.substr(0, 2)));
  const auto green = static_cast<std::uint32_t>(ReadHexPair(text.substr(2, 2)));
  const auto blue = static_cast<std::uint32_t>(ReadHexPair(text.substr(4, 2)));
  return red + green * 256u + blue * 65536u + (static_cast<std::uint32_t>(alpha & 0xFF) << 24);
}

}  // namespace kestrel
