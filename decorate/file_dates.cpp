#include "decorate/file_dates.h"

namespace kestrel {

bool ApplyFileTimestamp(const Settings& settings, const std::string& /*inputPath*/,
                        const std::string& /*outputPath*/) {
  // CURRENT: the file keeps the time it was written.
  // TODO(naming): ORIGINAL and CUSTOM.
  return settings.Int(SettingId::FileTimestamp) == 0;
}

}  // namespace kestrel
