#include "app/profile.h"

#include "app/options.h"
#include "platform/text.h"
#include "model/ini_file.h"

namespace kestrel {

bool ReadProfile(Settings& settings, const std::string& fileName) {
  if (fileName.empty()) return false;
  const std::optional<IniFile> file = ReadIniFile(fileName);
  if (!file) return false;
  const IniGroup* group = FindIniGroup(*file, "CLI");
  if (group == nullptr) return true;
  for (const IniEntry& entry : group->entries) {
    const SettingRow* row = FindRowByProfileKey(AsciiUpper(entry.key));
    if (row == nullptr) continue;  // unknown keys are ignored
    // The mask is the one text whose surrounding quotes a profile drops.
    const std::string value = row->id == SettingId::FilenameMask ? StripOuterQuotes(entry.value) : entry.value;
    ApplySettingValue(settings, *row, value);
  }
  return true;
}

}  // namespace kestrel
