// The window lives in a module: a command-line run never loads the toolkit,
// and a start that opens a window loads it only then.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::RunKestrel;
using test::TempDir;

bool MentionsToolkit(const std::string& text) { return text.find("libQt6") != std::string::npos; }

bool MentionsDrawing(const std::string& text) {
  return text.find("libcairo") != std::string::npos || text.find("libpango") != std::string::npos;
}

// Drawing lives in a module too: a plain conversion loads no Cairo or Pango.
TEST(DrawModule, OnlyARunThatDrawsLoadsCairoAndPango) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 8, 8);
  EXPECT_FALSE(MentionsDrawing(test::CommandOutput(std::string("ldd '") + KESTREL_BINARY + "'")));
  const auto plain = RunKestrel({"-q", "-i", input}, test::WithEnvironment("LD_DEBUG", "libs"));
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_NE(plain.err.find("calling init"), std::string::npos);
  EXPECT_FALSE(MentionsDrawing(plain.err));
  const auto framed = RunKestrel({"-q", "-i", input, "--fr-solid-top=2"}, test::WithEnvironment("LD_DEBUG", "libs"));
  EXPECT_EQ(framed.exitCode, 0);
  EXPECT_TRUE(MentionsDrawing(framed.err));
}

TEST(WindowModule, TheExecutableDoesNotLinkTheToolkit) {
  const std::string libraries = test::CommandOutput(std::string("ldd '") + KESTREL_BINARY + "'");
  ASSERT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
  EXPECT_FALSE(MentionsToolkit(libraries)) << libraries;
}

TEST(WindowModule, VersionRunLoadsNoToolkitButAWindowStartDoes) {
  const auto version = RunKestrel({"-v"}, test::WithEnvironment("LD_DEBUG", "libs"));
  EXPECT_EQ(version.out, "3.0\n");
  EXPECT_NE(version.err.find("calling init"), std::string::npos);  // the loader trace is there
  EXPECT_FALSE(MentionsToolkit(version.err));

  TempDir dir;
  test::RunOptions options;
  options.environment = {{"LD_DEBUG", "libs"}, {"QT_QPA_PLATFORM", "offscreen"},
                         {"XDG_CONFIG_HOME", dir.Path()}, {"ASAN_OPTIONS", "detect_leaks=0"}};
  const auto picture = RunKestrel({"-T", dir.File("shot.png")}, options);
  EXPECT_EQ(picture.exitCode, 0);
  EXPECT_TRUE(MentionsToolkit(picture.err));
}

// Runs a conversion that pauses at its end and reads the process's memory map
// while it waits for the key.
TEST(WindowModule, ConversionRunMapsNoToolkit) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 8, 8);
  int toChild[2], fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    execl(KESTREL_BINARY, KESTREL_BINARY, "-p", "-i", input.c_str(), "-o", dir.Path().c_str(), nullptr);
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  std::string out;
  char buffer[512];
  while (out.find("Press any key to exit.") == std::string::npos) {
    const ssize_t got = read(fromChild[0], buffer, sizeof buffer);
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  std::ifstream mapsFile("/proc/" + std::to_string(pid) + "/maps");
  std::stringstream maps;
  maps << mapsFile.rdbuf();
  (void)!write(toChild[1], "x", 1);
  close(toChild[1]);
  close(fromChild[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_NE(out.find("Conversion complete"), std::string::npos) << out;
  EXPECT_NE(maps.str().find("libfreeimage"), std::string::npos);  // the map was read while running
  EXPECT_FALSE(MentionsToolkit(maps.str()));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(WindowModule, DemonstrationWritesAPicture) {
  TempDir dir;
  test::RunOptions options;
  options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_CONFIG_HOME", dir.Path()},
                         {"ASAN_OPTIONS", "detect_leaks=0"}};
  const auto result = RunKestrel({"-T", dir.File("shot.png")}, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string picture = test::ReadText(dir.File("shot.png"));
  ASSERT_GT(picture.size(), 8u);
  EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");

  const auto missing = RunKestrel({"-T"}, options);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("-T needs"), std::string::npos);
}

TEST(WindowModule, NoDisplayGivesOneLineAndExitCodeOne) {
  test::RunOptions options;
  options.environment = {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  const auto result = RunKestrel({}, options);  // a display that nothing serves
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "kestrel: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is usable); "
            "convert with: kestrel -i FILE [options] (see --help)\n");
}

}  // namespace
}  // namespace kestrel
