// The process around the conversion under stress: a decoder child stopped or
// starved, pictures larger than the machine's memory, the one-copy lock in
// hostile folders, closed standard streams, oversized text inputs and a
// terminal left in raw mode.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/profile.h"
#include "engine/decode/memory_need.h"
#include "engine/decode/confined_psd.h"
#include "model/ini_file.h"
#include "model/preferences.h"
#include "platform/instance_lock.h"
#include "platform/sandbox.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::MakePsd;
using test::RunKestrel;
using test::TempDir;
using test::WriteText;

// A 26-byte header and empty sections, then raw image data left as a hole:
// a valid file of any size that costs no disk.
std::string MakeHollowPsd(const std::string& path, int version, int channels, std::uint32_t width,
                          std::uint32_t height, int depth) {
  std::string bytes = "8BPS";
  const auto big = [&bytes](std::uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  big(version, 2);
  big(0, 6);
  big(channels, 2);
  big(height, 4);
  big(width, 4);
  big(depth, 2);
  big(3, 2);                         // RGB
  big(0, 4);                         // colour mode data
  big(0, 4);                         // image resources
  big(0, version == 1 ? 4 : 8);      // layers and masks
  big(0, 2);                         // raw
  WriteText(path, bytes);
  const std::uint64_t data = std::uint64_t{width} * height * channels * (depth / 8);
  fs::resize_file(path, bytes.size() + data);
  return path;
}

double CpuSecondsNow() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The child tells its number, spins for a little CPU time and sends one byte.
int SpinAndReport(int output) {
  const pid_t self = ::getpid();
  if (::write(output, &self, sizeof self) != sizeof self) return 3;
  const double start = CpuSecondsNow();
  while (CpuSecondsNow() - start < 0.2) {
  }
  return ::write(output, "x", 1) == 1 ? 0 : 3;
}

struct Stop {
  const char* name;
  bool parentToo;  // as Ctrl-Z stops the whole job
};

class StoppedChild : public ::testing::TestWithParam<Stop> {};

// Stopped for twice the wall-clock bound, the child still finishes: only time
// in which it could run counts.
TEST_P(StoppedChild, FinishesAfterALongStop) {
  SandboxLimits limits;
  limits.cpuSeconds = 2;
  limits.wallMilliseconds = 3000;
  limits.idleMilliseconds = 1000;
  const bool parentToo = GetParam().parentToo;
  pid_t stopper = -1;
  const SandboxResult result = RunSandboxed(limits, {}, SpinAndReport, [&](SandboxOutput& output) {
    pid_t child = 0;
    if (!output.Read(&child, sizeof child)) return false;
    const pid_t parent = ::getpid();
    stopper = ::fork();
    if (stopper == 0) {
      ::kill(child, SIGSTOP);
      if (parentToo) ::kill(parent, SIGSTOP);
      ::usleep(5000 * 1000);
      if (parentToo) ::kill(parent, SIGCONT);
      ::kill(child, SIGCONT);
      ::_exit(0);
    }
    char byte = 0;
    return output.Read(&byte, 1) && byte == 'x';
  });
  int status = 0;
  if (stopper > 0) ::waitpid(stopper, &status, 0);
  EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end);
}

INSTANTIATE_TEST_SUITE_P(Stops, StoppedChild,
                         ::testing::Values(Stop{"child_alone", false}, Stop{"child_and_parent", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A child asleep without using CPU (a deadlock) is ended at the idle limit,
// long before the generous wall-clock bound.
TEST(HungChild, IsEndedAtTheIdleLimit) {
  SandboxLimits limits;
  limits.wallMilliseconds = 60000;
  limits.idleMilliseconds = 1000;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int readEnd = pipeFds[0];
  const SandboxResult result = RunSandboxed(limits, {{readEnd}, {}}, [readEnd](int) {
    char byte;
    return static_cast<int>(::read(readEnd, &byte, 1));
  });
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  // Stalled, not out of time: the idle limit ended it, not the wall-clock one.
  EXPECT_EQ(result.end, SandboxEnd::Stalled);
}

// The estimate against a budget: the same small file is refused under a
// budget below its need, and decoded above it.
TEST(MemoryBudget, RefusesBeforeDecodingWhatDoesNotFit) {
  TempDir dir;
  const std::string psd = MakePsd(dir.Path(), "a.psd", "rgb16", 64, 64);
  // Decoded 6 bytes a pixel, beside it a float copy (12) and an 8-bit one (3).
  const std::uint64_t need = 64 * 64 * (6 + 12 + 3);
  const struct {
    std::uint64_t budget;
    bool loads;
  } cases[] = {{need / 2, false}, {need - 1, false}, {need, true}, {1ull << 30, true}};
  for (const auto& c : cases) {
    SetMemoryBudgetForTesting(c.budget);
    const ImageResult load = LoadPsdSandboxed(psd, 0);
    EXPECT_EQ(static_cast<bool>(load.image), c.loads) << c.budget << ": " << load.failure;
    if (c.budget == need / 2) {
      EXPECT_EQ(load.failure, "converting a 64x64 image of 16 bits per channel needs about 84 KB of memory, "
                              "more than the 42 KB it may use");
    }
  }
  SetMemoryBudgetForTesting(0);
}

// No machine holds this one: it is refused at once, with the reason, and no
// decoder is started for it.
TEST(MemoryBudget, AHugeValidFileIsRefusedAtOnce) {
  TempDir dir;
  // A large-document header under the ordinary extension, which the input list takes.
  const std::string psb = MakeHollowPsd(dir.File("huge.psd"), 2, 3, 300000, 300000, 16);
  const auto result = RunKestrel({"-d", "-i", psb, "-o", dir.Path()});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("huge.psd: converting a 300000x300000 image of 16 bits per channel needs about "),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("of memory, more than the "), std::string::npos) << result.err;
  EXPECT_TRUE(result.err.ends_with(" it may use\n")) << result.err;
  EXPECT_FALSE(fs::exists(dir.File("huge.bmp")));
}

// What the lock reports for each state of its folder.
struct LockCase {
  const char* name;
  // Prepares the place under a fresh folder; returns false to skip.
  bool (*prepare)(const std::string& base, LockPlace& place);
  LockState expected;
  const char* failureHas;  // part of the failure text
};

std::string PrivateFolder(const std::string& base) { return base + "/kestrel-" + std::to_string(::geteuid()); }

const LockCase kLockCases[] = {
    {"runtime_folder_missing",
     [](const std::string& base, LockPlace& place) {
       place.runtimeFolder = base + "/missing";
       return true;
     },
     LockState::Failed, "/missing: No such file or directory"},
    {"shared_fallback_made_private",
     [](const std::string& base, LockPlace& place) {
       place.sharedFolder = base;
       return true;
     },
     LockState::Taken, ""},
    {"shared_folder_open_to_others",
     [](const std::string& base, LockPlace& place) {
       place.sharedFolder = base;
       return ::mkdir(PrivateFolder(base).c_str(), 0777) == 0 && ::chmod(PrivateFolder(base).c_str(), 0777) == 0;
     },
     LockState::Failed, "is open to other users"},
    {"shared_folder_is_a_link",
     [](const std::string& base, LockPlace& place) {
       place.sharedFolder = base;
       ::mkdir((base + "/elsewhere").c_str(), 0700);
       return ::symlink((base + "/elsewhere").c_str(), PrivateFolder(base).c_str()) == 0;
     },
     LockState::Failed, "cannot open"},
    {"shared_folder_of_another_user",
     [](const std::string& base, LockPlace& place) {
       place.sharedFolder = base;
       // Only the superuser can give a folder away.
       return ::geteuid() == 0 && ::mkdir(PrivateFolder(base).c_str(), 0700) == 0 &&
              ::chown(PrivateFolder(base).c_str(), 65534, 65534) == 0;
     },
     LockState::Failed, "belongs to another user"},
    {"lock_file_is_a_link",
     [](const std::string& base, LockPlace& place) {
       place.runtimeFolder = base;
       return ::symlink((base + "/target").c_str(), (base + "/T.lock").c_str()) == 0;
     },
     LockState::Failed, "T.lock: "},
    {"held_by_another_copy",
     [](const std::string& base, LockPlace& place) {
       place.runtimeFolder = base;
       const int fd = ::open((base + "/T.lock").c_str(), O_RDWR | O_CREAT, 0600);  // left open: the other copy
       return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
     },
     LockState::HeldByAnother, ""},
};

class LockPlaces : public ::testing::TestWithParam<LockCase> {};

TEST_P(LockPlaces, TellWhatHappened) {
  TempDir dir;
  LockPlace place;
  if (!GetParam().prepare(dir.Path(), place)) KESTREL_CANNOT_RUN("cannot prepare this case here");
  InstanceLock lock;
  const LockResult result = lock.Acquire("T", place);
  EXPECT_EQ(result.state, GetParam().expected) << result.failure;
  EXPECT_NE(result.failure.find(GetParam().failureHas), std::string::npos) << result.failure;
  EXPECT_FALSE(fs::exists(dir.File("target"))) << "the link was followed";
  if (GetParam().expected == LockState::Taken) {
    struct stat st {};
    ASSERT_EQ(::lstat(PrivateFolder(dir.Path()).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
}

INSTANTIATE_TEST_SUITE_P(Places, LockPlaces, ::testing::ValuesIn(kLockCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LockFailure, IsNotReportedAsAnotherCopy) {
  TempDir dir;
  const auto result = RunKestrel({"-v"}, test::WithEnvironment("XDG_RUNTIME_DIR", dir.File("missing")));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.find("another copy"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(dir.File("missing") + ": No such file or directory"), std::string::npos) << result.err;
}

// Started with standard streams closed, the program's files never take their
// numbers: the lock file stays empty, and the conversion still happens.
TEST(StandardStreams, ClosedOnesDoNotCaptureFiles) {
  const std::vector<int> closings[] = {{0}, {1}, {2}, {0, 1, 2}};
  for (const auto& closed : closings) {
    TempDir dir;
    const std::string input = MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (const int fd : closed) ::close(fd);
      ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
      ::execl(KESTREL_BINARY, KESTREL_BINARY, "-d", "-i", input.c_str(), "-o", dir.Path().c_str(), nullptr);
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string label = "closed " + std::to_string(closed.front()) + (closed.size() > 1 ? " and more" : "");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << label;
    EXPECT_EQ(fs::file_size(dir.File("Tessaline PSD to BMP 3.0.lock")), 0u) << label;
    EXPECT_TRUE(fs::exists(dir.File("a.bmp"))) << label;
  }
}

// Profiles are read up to a cap: one byte over it is an invalid profile,
// however large the file, and nothing of it is applied.
TEST(ProfileCap, OversizedProfilesAreInvalid) {
  TempDir dir;
  const std::string line = "[CLI]\n--WIDTH=640\n";
  const struct {
    const char* name;
    std::uint64_t size;
    bool valid;
  } cases[] = {{"at_cap.ini", kMaxIniFileBytes, true},
               {"over_cap.ini", kMaxIniFileBytes + 1, false},
               {"three_gigabytes.ini", 3ull << 30, false}};
  for (const auto& c : cases) {
    const std::string path = dir.File(c.name);
    WriteText(path, line);
    fs::resize_file(path, c.size);  // the rest is zero bytes (a hole)
    AppState state;
    std::vector<std::string> lines;
    test::PrepareTestState(state, lines);
    EXPECT_EQ(ReadProfile(state.settings, path), c.valid) << c.name;
    EXPECT_EQ(state.settings.Int(SettingId::Width), c.valid ? 640 : 0) << c.name;
  }
  const auto run = RunKestrel({"--profile=" + dir.File("three_gigabytes.ini"), "-i", dir.File("x.psd")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "Error: Invalid profile file\n");
}

// Window sizes and places from a hand-edited file are brought into screen ranges.
TEST(PreferencesGeometry, IsClampedWhenRead) {
  TempDir dir;
  WriteText(dir.File("config.ini"),
            "[Window]\nWidth = 2000000000\nHeight = -5\nX = -2000000000\nY = 123\n");
  Settings settings;
  LoadPreferences(settings, MakeEditionRegistry(), dir.File("config.ini"), 1700000000);
  EXPECT_EQ(settings.Int(SettingId::WindowWidth), 16384);
  EXPECT_EQ(settings.Int(SettingId::WindowHeight), 1);
  EXPECT_EQ(settings.Int(SettingId::WindowX), -16384);
  EXPECT_EQ(settings.Int(SettingId::WindowY), 123);
}

// Reads the pseudo-terminal until text appears (or 20 s pass).
bool ReadUntil(int master, const std::string& text) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[256];
  while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      seen.append(buffer, static_cast<std::size_t>(n));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return seen.find(text) != std::string::npos;
}

struct Interruption {
  const char* name;
  int signal;         // sent to the process; 0: Ctrl-C typed on the terminal
};

class PausedPrompt : public ::testing::TestWithParam<Interruption> {};

// Ended by a signal at "Press any key to exit.", the program leaves the
// terminal as it found it: echo and line editing on.
TEST_P(PausedPrompt, EndingLeavesTheTerminalEchoing) {
  TempDir dir;
  const std::string input = MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  int master = -1, terminal = -1;
  ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(master);
    ::setsid();
    ::ioctl(terminal, TIOCSCTTY, 0);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(terminal, fd);
    ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    ::execl(KESTREL_BINARY, KESTREL_BINARY, "-q", "-p", "-i", input.c_str(), "-o", dir.Path().c_str(), nullptr);
    ::_exit(127);
  }
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  ASSERT_TRUE(ReadUntil(master, "Press any key to exit."));
  // Raw mode is set right after the line: wait until the terminal shows it.
  termios seen {};
  for (int i = 0; i < 200; ++i) {
    ::tcgetattr(terminal, &seen);
    if ((seen.c_lflag & ECHO) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(seen.c_lflag & ECHO, 0u) << "the prompt turns echo off while it waits";
  if (GetParam().signal == 0) {
    ASSERT_EQ(::write(master, "\x03", 1), 1);
  } else {
    ::kill(pid, GetParam().signal);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the signal still ends the process";
  termios after {};
  ASSERT_EQ(::tcgetattr(terminal, &after), 0);
  EXPECT_NE(after.c_lflag & ECHO, 0u);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  ::close(master);
  ::close(terminal);
}

INSTANTIATE_TEST_SUITE_P(Signals, PausedPrompt,
                         ::testing::Values(Interruption{"ctrl_c", 0}, Interruption{"sigint", SIGINT},
                                           Interruption{"sigterm", SIGTERM}, Interruption{"sighup", SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel
