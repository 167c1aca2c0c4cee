// The program inside a shell pipeline: a document from standard input, the
// picture to standard output, and the refusals that keep a pipe clean.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::RunKestrel;

// The picture a plain file run writes for `input`.
std::string FileRunPicture(const std::string& input, const test::TempDir& dir) {
  const std::string out = dir.File("file-run");
  std::filesystem::create_directories(out);
  const auto run = RunKestrel({"-q", "-i", input, "-o", out});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return test::ReadText(out + "/" + std::filesystem::path(input).stem().string() + ".bmp");
}

TEST(Pipes, StandardInputToStandardOutputGivesTheFileRunsPicture) {
  test::TempDir dir;
  for (const char* kind : {"rgb8", "rgba8", "grey16", "indexed8"}) {
    const std::string input = test::MakePsd(dir.Path(), std::string(kind) + ".psd", kind, 37, 23);
    const std::string expected = FileRunPicture(input, dir);
    ASSERT_GT(expected.size(), 54u) << kind;
    const auto piped = RunKestrel({"-q", "-i", "-", "--stdout"}, test::WithInput(test::ReadText(input)));
    EXPECT_EQ(piped.exitCode, 0) << kind << ": " << piped.err;
    EXPECT_TRUE(piped.out == expected) << kind << ": " << piped.out.size() << " bytes, not " << expected.size();
  }
}

TEST(Pipes, ThroughARealShellPipeline) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 64, 48);
  test::WriteText(dir.File("expected.bmp"), FileRunPicture(input, dir));
  const std::string command = "cd '" + dir.Path() + "' && mkdir -p lock && XDG_RUNTIME_DIR=\"$PWD/lock\" && export XDG_RUNTIME_DIR && "
                              "cat a.psd | '" KESTREL_BINARY "' -q -i - --stdout | cmp - expected.bmp && echo same";
  EXPECT_EQ(test::CommandOutput(command), "same\n");
}

TEST(Pipes, StatusLinesGoToStandardErrorAndTheBannerStaysOffThePipe) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 8, 8);
  const auto piped = RunKestrel({"-i", input, "--stdout"});
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out.substr(0, 2), "BM");
  EXPECT_NE(piped.err.find("Tessaline PSD to BMP"), std::string::npos) << piped.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.bmp")));
}

TEST(Pipes, StandardInputIsNamedStdinInNamesAndGoesToTheWorkingDirectory) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 8, 8);
  std::filesystem::create_directories(dir.File("work"));
  test::RunOptions options = test::InDirectory(dir.File("work"));
  options.input = test::ReadText(input);
  const auto run = RunKestrel({"-q", "-i", "-", "--filename-mask=%filename%-%width%.%ext%"}, options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("work/stdin-8.bmp")));
}

TEST(Pipes, AReaderThatClosesEarlyGetsAnErrorLineNotASignalDeath) {
  test::TempDir dir;
  // Far more than a pipe holds, so the writer meets the closed end.
  test::MakePsd(dir.Path(), "big.psd", "rgb8", 600, 400);
  test::WriteText(dir.File("run.sh"),
                  "cd \"$(dirname \"$0\")\" && mkdir -p lock && export XDG_RUNTIME_DIR=\"$PWD/lock\"\n"
                  "'" KESTREL_BINARY "' -q -i big.psd --stdout 2>err.txt | head -c 10 > /dev/null\n"
                  "echo \"${PIPESTATUS[0]}\"\n");
  const std::string status = test::CommandOutput("bash '" + dir.File("run.sh") + "'");
  EXPECT_EQ(status, "1\n");
  EXPECT_EQ(test::ReadText(dir.File("err.txt")),
            "kestrel: standard output was closed before the whole picture was written\n");
}

TEST(Pipes, EmptyStandardInputFails) {
  const auto run = RunKestrel({"-q", "-i", "-", "--stdout"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kestrel: standard input is empty\n");
}

TEST(Pipes, RefusedCombinationsAreUsageErrorsOfOneLine) {
  test::TempDir dir;
  const std::string a = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  const std::string b = test::MakePsd(dir.Path(), "b.psd", "rgb8", 4, 4);
  // With --stdout or --info the line goes to standard error, which keeps the pipe clean; otherwise
  // to standard output, as every other command-line error.
  struct Case {
    std::vector<std::string> arguments;
    std::string line;
    bool onError;
  };
  const Case cases[] = {
      {{"-i", a, "-i", b, "--stdout"}, "Error: --stdout writes one picture: give it one input", true},
      {{"--input-folder=" + dir.Path(), "--stdout"}, "Error: --stdout writes one picture: give it one input", true},
      {{"-i", "-", "--input-list=-"}, "Error: -i - reads standard input as the only input", false},
      {{"-i", a, "--stdout", "--info"}, "Error: --info converts nothing, so --stdout has no picture to write", true},
  };
  for (const Case& c : cases) {
    const auto run = RunKestrel(c.arguments);
    EXPECT_EQ(run.exitCode, 2) << c.line;
    EXPECT_EQ(c.onError ? run.err : run.out, c.line + "\n");
    EXPECT_EQ(c.onError ? run.out : run.err, "") << c.line;
  }
}

// Runs the program with standard output on a terminal; gives its exit code and what it wrote there.
int RunOnTerminal(const std::vector<std::string>& arguments, const std::string& lockFolder, std::string& written) {
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::setenv("XDG_RUNTIME_DIR", lockFolder.c_str(), 1);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv{const_cast<char*>(KESTREL_BINARY)};
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(KESTREL_BINARY, argv.data());
    ::_exit(127);
  }
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) written.append(buffer, static_cast<std::size_t>(n));
  ::close(terminal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Pipes, APictureIsNotWrittenToATerminal) {
  test::TempDir dir;
  const std::string a = test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4);
  std::filesystem::create_directories(dir.File("lock"));
  std::string written;
  EXPECT_EQ(RunOnTerminal({"-q", "-i", a, "--stdout"}, dir.File("lock"), written), 2);
  // The terminal shows its title and the refusal, which went to standard error, and no picture.
  const std::string line = "Error: --stdout does not write a picture to a terminal: send it into a pipe or a file\r\n";
  ASSERT_GE(written.size(), line.size());
  EXPECT_EQ(written.substr(written.size() - line.size()), line);
  EXPECT_LT(written.size(), line.size() + 64);  // no room for a picture beside them
}

}  // namespace
}  // namespace kestrel
