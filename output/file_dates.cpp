#include "output/file_dates.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace kestrel {
namespace {

enum FileTimestampMode { kCurrent = 0, kOriginal = 1, kCustom = 2 };

bool SetModificationTime(const std::string& path, std::int64_t seconds) {
  timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT;  // access time stays as it is
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace

std::optional<std::int64_t> LocalDateToInstant(std::int64_t localSeconds) {
  // The date value is a wall-clock reading stored as if it were UTC: take it
  // apart as UTC, then put the same calendar fields together as local time.
  const auto asTime = static_cast<time_t>(localSeconds);
  std::tm fields{};
  if (gmtime_r(&asTime, &fields) == nullptr) return std::nullopt;
  fields.tm_isdst = -1;
  errno = 0;
  const time_t instant = std::mktime(&fields);
  if (instant == static_cast<time_t>(-1) && errno != 0) return std::nullopt;
  return static_cast<std::int64_t>(instant);
}

bool ApplyFileTimestamp(const Settings& settings, const std::string& inputPath, const std::string& outputPath) {
  switch (settings.Int(SettingId::FileTimestamp)) {
    case kCurrent:
      return true;
    case kOriginal: {
      // Copied as an instant, so an hour that the clock repeats in autumn
      // cannot shift it; fractions of the second are dropped.
      struct stat input {};
      if (::stat(inputPath.c_str(), &input) != 0) return false;
      return SetModificationTime(outputPath, input.st_mtim.tv_sec);
    }
    case kCustom: {
      const auto instant = LocalDateToInstant(settings.Date(SettingId::FileTimestampCustom));
      return instant && SetModificationTime(outputPath, *instant);
    }
    default:
      return false;
  }
}

}  // namespace kestrel
