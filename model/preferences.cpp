#include "model/preferences.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "model/values.h"
#include "platform/files.h"
#include "platform/text.h"
#include "model/ini_file.h"

namespace kestrel {
namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/tmp";
}

// Creates every missing folder of an absolute path.
void CreateFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1); ; at = path.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? path : path.substr(0, at);
    if (!part.empty() && FileSizeQuery(part) == kPathMissing) mkdir(part.c_str(), 0700);
    if (at == std::string::npos) break;
  }
}

bool IsText(ValueKind kind) { return kind == ValueKind::Text || kind == ValueKind::Colour; }

// A missing key: the row's own default, which the defaults already put in place,
// unless the preferences file has a default of its own.
void ApplyMissingDefault(Settings& settings, const PreferenceRow& pref) {
  if (pref.missingDefault.empty()) return;
  if (IsText(RowOf(pref.id).kind)) {
    settings.SetText(pref.id, std::string(pref.missingDefault));
  } else {
    settings.SetNumber(pref.id, ReadLenientInteger64(pref.missingDefault));
  }
}

void ApplyValue(Settings& settings, const PreferenceRow& pref, std::string_view value) {
  const ValueKind kind = RowOf(pref.id).kind;
  if (IsText(kind)) {
    settings.SetText(pref.id, std::string(value));
  } else if (kind == ValueKind::Real) {
    settings.SetReal(pref.id, ReadReal(value));
  } else if (kind == ValueKind::Date) {
    settings.SetNumber(pref.id, ReadLenientInteger64(value));
  } else {
    std::int64_t number = ReadLenientInteger(value);
    if (pref.width == PreferenceWidth::Low8) number &= 0xFF;
    settings.SetNumber(pref.id, number);
  }
}

// The window's stored place and size, brought into ranges that a screen can
// have: a hand-edited file must not hand the toolkit a window of two billion pixels.
struct GeometryRange {
  SettingId id;
  std::int64_t low;
  std::int64_t high;
};
constexpr std::int64_t kLargestScreenSide = 16384;
constexpr GeometryRange kGeometryRanges[] = {
    {SettingId::WindowWidth, 1, kLargestScreenSide},
    {SettingId::WindowHeight, 1, kLargestScreenSide},
    {SettingId::WindowX, -kLargestScreenSide, kLargestScreenSide},
    {SettingId::WindowY, -kLargestScreenSide, kLargestScreenSide},
};

void ClampGeometry(Settings& settings) {
  for (const GeometryRange& range : kGeometryRanges) {
    settings.SetNumber(range.id, std::clamp<std::int64_t>(settings.Int(range.id), range.low, range.high));
  }
}

std::int64_t IntegerIn(const IniFile& file, std::string_view group, std::string_view key) {
  const std::string* value = FindIniValue(file, group, key);
  return value == nullptr ? 0 : ReadLenientInteger(*value);
}

// Brings the settings of an older file up to date.
void Migrate(Settings& settings, const IniFile& file, std::int64_t version) {
  if (version < 11) {
    const std::string& mask = settings.Text(SettingId::FilenameMask);
    if (mask.find("%ext%") == std::string::npos) settings.SetText(SettingId::FilenameMask, mask + ".%ext%");
  }
  if (version < 14 && settings.Int(SettingId::RawLoadAs) != 0) {
    settings.SetNumber(SettingId::RawLoadAs, settings.Int(SettingId::RawLoadAs) + 2);
  }
  if (version < 19) {
    if (const auto mode = IntegerIn(file, "Input", "PSD Color Model"); mode != 0) {
      settings.SetNumber(SettingId::PsdColorMode, mode);
    }
    if (const auto mode = IntegerIn(file, "Output", "TIFF Color Model"); mode != 0) {
      settings.SetNumber(SettingId::TiffColorMode, mode);
    }
  }
}

std::string DelimiterFromName(const std::string& text) {
  const std::string lower = LowerCase(text);
  if (lower == "tab") return "\t";
  if (lower == "space") return " ";
  if (lower == "crlf") return "\r\n";
  return text;
}

std::string ValueText(const Settings& settings, const PreferenceRow& pref) {
  if (pref.id == SettingId::Cfg) return std::to_string(kPreferencesVersion);
  switch (RowOf(pref.id).kind) {
    case ValueKind::Text:
    case ValueKind::Colour:
      return settings.Text(pref.id);
    case ValueKind::Real: {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, settings.Real(pref.id),
                                        std::chars_format::fixed, 6);
      return std::string(buffer, result.ptr);
    }
    case ValueKind::Date:
      return std::to_string(settings.Date(pref.id));
    default:
      return std::to_string(settings.Int(pref.id));
  }
}

}  // namespace

std::string PreferencesPath(std::string_view vendor, std::string_view shortName) {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  std::string folder = configured != nullptr && configured[0] == '/' ? configured : HomeFolder() + "/.config";
  if (!EndsWith(folder, "/")) folder += "/";
  folder += std::string(vendor) + "/" + std::string(shortName);
  CreateFolders(folder);
  return folder + "/config.ini";
}

void LoadPreferences(Settings& settings, const FormatRegistry& formats, const std::string& path,
                     std::int64_t now) {
  SetDefaultSettings(settings, /*aspectOff=*/false, now, formats.sourceFormats.front(),
                     formats.targetFormats.front());
  const std::optional<IniFile> file = ReadIniFile(path);
  if (!file) return;  // the defaults, and a current version: nothing to migrate

  for (const PreferenceRow& pref : PreferenceRows()) {
    const std::string* value = FindIniValue(*file, pref.group, pref.key);
    if (value == nullptr) {
      ApplyMissingDefault(settings, pref);
    } else {
      ApplyValue(settings, pref, *value);
    }
  }
  Migrate(settings, *file, settings.Int(SettingId::Cfg));
  ClampGeometry(settings);
  settings.SetText(SettingId::CsvDelimiter, DelimiterFromName(settings.Text(SettingId::CsvDelimiter)));
}

std::string PreferencesText(const Settings& settings) {
  const bool geometry = settings.IsOn(SettingId::SaveWindowPosition);
  std::string text = "\xEF\xBB\xBF\r\n";
  std::string_view group;
  for (const PreferenceRow& pref : PreferenceRows()) {
    if (pref.group != group) {
      if (!group.empty()) text += "; \r\n";
      group = pref.group;
      text.append("[").append(group).append("]\r\n");
    }
    if (pref.saved == PreferenceSaved::Never) continue;
    if (pref.saved == PreferenceSaved::WithGeometry && !geometry) continue;
    text.append(pref.key).append(" = ").append(ValueText(settings, pref)).append("\r\n");
  }
  if (!group.empty()) text += "; \r\n";
  return text;
}

bool SavePreferences(const Settings& settings, const std::string& path) {
  const std::string text = PreferencesText(settings);
  return WriteFileAtomically(path, text.data(), text.size());
}

}  // namespace kestrel
