// The zygote that forks the confined children of a batch worker: each child
// is a fresh process, its limits hold as for a child forked from the worker,
// and a zygote that dies (between files or in the middle of one) costs no file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sandbox.h"
#include "platform/sanitizer.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct ChildReport {
  int runs = 0;  // how many works this process has run
  pid_t pid = 0;
};

// Uses the CPU for a tenth of a second: the parent looks at the child meanwhile.
void Linger() {
  timespec start{}, now{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    ::clock_gettime(CLOCK_MONOTONIC, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < 100);
}

// Tells how many works this process has run and who it is, lingers, then ends well.
int ReportFreshness(const std::uint8_t*, std::size_t, const SandboxInput&, int output) {
  static int runs = 0;
  ++runs;
  const ChildReport report{runs, ::getpid()};
  if (!WriteAll(output, &report, sizeof report)) return 1;
  Linger();
  return WriteAll(output, "x", 1) ? 0 : 1;
}

int AllocateTooMuch(const std::uint8_t*, std::size_t, const SandboxInput&, int) {
  std::vector<char> block(std::size_t{2} << 30, 1);
  return block[12345] == 1 ? 0 : 3;
}

int ReadTheMappedInput(const std::uint8_t*, std::size_t, const SandboxInput& input, int output) {
  if (input.mapped == nullptr) return 2;
  return WriteAll(output, input.mapped, static_cast<std::size_t>(input.size)) ? 0 : 1;
}

SandboxWork Work(int (*run)(const std::uint8_t*, std::size_t, const SandboxInput&, int)) { return SandboxWork{run, {}}; }

// The file every work here is given: some kilobytes of a pattern.
struct AnInput {
  test::TempDir dir;
  std::string bytes;
  UniqueFd fd;
  std::uint64_t size = 0;
  AnInput() {
    for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 7 % 251));
    const std::string path = dir.File("input");
    test::WriteText(path, bytes);
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    size = bytes.size();
  }
};

struct Seen {
  ChildReport report;
  pid_t parent = -1;
};

// Runs ReportFreshness, `before` called with the child's report while it lingers.
Seen RunReport(const AnInput& input, SandboxResult& result, const std::function<void(const ChildReport&)>& before = {}) {
  Seen seen;
  result = RunSandboxedWork({}, input.fd.Get(), input.size, Work(ReportFreshness), [&](SandboxOutput& output) {
    if (!output.Read(&seen.report, sizeof seen.report)) return false;
    seen.parent = test::FactsOf(seen.report.pid).parent;
    if (before) before(seen.report);
    char byte = 0;
    return output.Read(&byte, 1) && byte == 'x';
  });
  return seen;
}

TEST(SandboxZygote, EachWorkRunsInAFreshChildOfTheZygote) {
  const AnInput input;
  const SandboxZygoteHold zygote;
  const std::vector<pid_t> zygotes = test::ChildrenOf(::getpid());
  ASSERT_EQ(zygotes.size(), 1u);
  std::set<pid_t> children;
  for (int i = 0; i < 3; ++i) {
    SandboxResult result;
    const Seen seen = RunReport(input, result);
    EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end) << " signal " << result.signal;
    EXPECT_EQ(seen.report.runs, 1) << "a child that ran a work before";
    EXPECT_EQ(seen.parent, zygotes.front()) << "not forked by the zygote";
    children.insert(seen.report.pid);
  }
  EXPECT_EQ(children.size(), 3u);
}

// The limits and the mapping of the input hold through the zygote as they do here.
TEST(SandboxZygote, LimitsAndTheMappedInputAreThoseOfAForkHere) {
  const AnInput input;
  for (const bool viaZygote : {false, true}) {
    SCOPED_TRACE(viaZygote ? "through the zygote" : "forked here");
    std::optional<SandboxZygoteHold> zygote;
    if (viaZygote) zygote.emplace();
    SandboxLimits limits;
    limits.extraAddressSpace = 256ull << 20;
    const SandboxResult tooMuch = RunSandboxedWork(limits, input.fd.Get(), input.size, Work(AllocateTooMuch));
    EXPECT_FALSE(tooMuch.Succeeded());
    // Under the sanitizer its own allocator dies reporting the failure instead.
    if (!kSanitizedBuild) {
      EXPECT_EQ(tooMuch.end, SandboxEnd::OutOfMemory);
    }
    std::string bytes(input.size, '\0');
    const SandboxResult read = RunSandboxedWork({}, input.fd.Get(), input.size, Work(ReadTheMappedInput),
                                                [&](SandboxOutput& output) { return output.Read(bytes.data(), bytes.size()); });
    EXPECT_TRUE(read.Succeeded()) << "end " << static_cast<int>(read.end) << " exit " << read.exitCode;
    EXPECT_TRUE(bytes == input.bytes);
  }
}

// A zygote killed between two works: the next one has a new zygote.
TEST(SandboxZygote, AZygoteKilledBetweenWorksIsReplaced) {
  const AnInput input;
  const SandboxZygoteHold zygote;
  const std::vector<pid_t> first = test::ChildrenOf(::getpid());
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(::kill(first.front(), SIGKILL), 0);
  SandboxResult result;
  const Seen seen = RunReport(input, result);
  EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end);
  EXPECT_NE(seen.parent, first.front());
  EXPECT_NE(seen.parent, ::getpid()) << "a new zygote forks the children again";
}

// A zygote killed while its child works: the child goes with it, and the work
// is run again from the start, so that it comes out as if nothing happened.
TEST(SandboxZygote, AZygoteKilledInTheMiddleOfAWorkCostsNoResult) {
  const AnInput input;
  const SandboxZygoteHold zygote;
  int starts = 0;
  SandboxResult result;
  RunReport(input, result, [&](const ChildReport& report) {
    if (++starts == 1) ::kill(test::FactsOf(report.pid).parent, SIGKILL);
  });
  EXPECT_TRUE(result.Succeeded()) << "end " << static_cast<int>(result.end);
  EXPECT_EQ(starts, 2);
}

}  // namespace
}  // namespace kestrel
