#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// Dates checked on the written file from outside the program.
struct CustomDateCase {
  const char* name;
  const char* zone;
  std::string value;       // local wall-clock seconds since 1970
  std::int64_t expected;   // the file's modification time, UTC seconds
};

void PrintTo(const CustomDateCase& c, std::ostream* os) { *os << c.name; }

class CustomDate : public ::testing::TestWithParam<CustomDateCase> {};

TEST_P(CustomDate, IsReadAsLocalTime) {
  const CustomDateCase& c = GetParam();
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  test::RunOptions options;
  options.environment = {{"TZ", c.zone}};
  const std::int64_t started = std::time(nullptr);
  const auto result = test::RunKestrel(
      {"-i", input, "--file-timestamp=custom", "--file-timestamp-custom=" + c.value}, options);
  ASSERT_EQ(result.exitCode, 0) << result.out;
  const struct stat out = StatOf(dir.File("a.bmp"));
  EXPECT_EQ(out.st_mtim.tv_sec, c.expected);
  EXPECT_EQ(out.st_mtim.tv_nsec, 0);
  EXPECT_GE(out.st_atim.tv_sec, started - 1) << "the access time is left as the write set it";
}

const CustomDateCase kCustomDates[] = {
    // 2021-01-01 00:00:00 on the wall clock.
    {"Tokyo", "Asia/Tokyo", "1609459200", 1609459200 - 9 * 3600},
    {"Utc", "UTC", "1609459200", 1609459200},
    // 2021-07-01 12:00:00 in New York is daylight-saving time, UTC-4.
    {"NewYorkSummer", "America/New_York", "1625140800", 1625140800 + 4 * 3600},
    // Dates outside 1970..2038 are applied as given.
    {"Before1970", "UTC", "-86400", -86400},
    {"After2038", "Asia/Tokyo", "4102444800", 4102444800 - 9 * 3600},
};

INSTANTIATE_TEST_SUITE_P(Zones, CustomDate, ::testing::ValuesIn(kCustomDates),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileDates, OriginalCopiesTheInputTimeToTheSecond) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  const timespec times[2] = {{1000000000, 0}, {1234567890, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
  const std::int64_t started = std::time(nullptr);
  test::RunOptions options;
  options.environment = {{"TZ", "Europe/Berlin"}};
  const auto result = test::RunKestrel({"-i", input, "--file-timestamp=original"}, options);
  ASSERT_EQ(result.exitCode, 0) << result.out;
  const struct stat out = StatOf(dir.File("a.bmp"));
  EXPECT_EQ(out.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(out.st_mtim.tv_nsec, 0);
  EXPECT_GE(out.st_atim.tv_sec, started - 1);
}

TEST(FileDates, CurrentKeepsTheTimeOfWriting) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
  const std::int64_t started = std::time(nullptr);
  const auto result = test::RunKestrel({"-i", input, "--file-timestamp-custom=1000"});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  EXPECT_GE(StatOf(dir.File("a.bmp")).st_mtim.tv_sec, started - 1);
}

}  // namespace
}  // namespace kestrel
