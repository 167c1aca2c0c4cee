// Shared helpers for the tests: temporary folders, running the program, fixtures.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "job/job.h"
#include "model/app_state.h"

namespace kestrel::test {

// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int exitCode = -1;      // the exit status, or -1 when a signal ended the process
  int signal = 0;
  std::string out;        // standard output
  std::string err;        // standard error
  std::vector<std::string> Lines() const;  // standard output split at line ends
  bool HasLine(const std::string& line) const;  // one line of standard output is exactly this
};

struct RunOptions {
  std::string workingDirectory;  // empty: the test's own
  std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
  std::string input;             // fed to standard input
  int timeoutSeconds = 60;
  std::string binary;            // empty: the kestrel of this build
  std::function<void(pid_t)> started;  // told the process id once the run has started
};

RunOptions InDirectory(std::string folder);
RunOptions WithInput(std::string text);
RunOptions WithEnvironment(std::string name, std::string value);

// Runs the kestrel executable with the arguments. Each run gets a lock folder of
// its own, so tests may run side by side.
RunResult RunKestrel(const std::vector<std::string>& arguments, const RunOptions& options = {});

std::string SourcePath(const std::string& relative);   // a file of the repository
std::string CorpusPath(const std::string& relative);   // a file of the shared corpus
bool CorpusAvailable();

// A test that cannot run here (a tool, a profile or a privilege is missing)
// skips on a developer's machine. Under CI (environment CI set) every
// dependency is installed by scripts/install-deps.sh, so the same gap is a
// broken machine and fails the test instead of hiding it.
#define KESTREL_CANNOT_RUN(reason)                     \
  do {                                                 \
    const std::string kestrelWhy_ = (reason);          \
    if (std::getenv("CI") != nullptr) FAIL() << kestrelWhy_; \
    GTEST_SKIP() << kestrelWhy_;                       \
  } while (false)

// A test that reads the shared corpus cannot run without it.
#define KESTREL_REQUIRE_CORPUS(available)                                          \
  do {                                                                             \
    if (!(available)) KESTREL_CANNOT_RUN("shared corpus not found: " KESTREL_CORPUS_DIR); \
  } while (false)

// Writes a small generated PSD (tools/make_psd.py kinds) into folder; returns its path.
std::string MakePsd(const std::string& folder, const std::string& name, const std::string& kind, int width,
                    int height);

// Prepares state as the command-line driver does, with console lines going into `lines`.
void PrepareTestState(AppState& state, std::vector<std::string>& lines);

// Standard output of a shell command.
std::string CommandOutput(const std::string& command);

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// The processes `parent` has forked and not yet reaped.
std::vector<pid_t> ChildrenOf(pid_t parent);

// The state letter and parent of a process from /proc ('\0' and -1 when it is not there).
struct ProcessFacts {
  char state = '\0';
  pid_t parent = -1;
};
ProcessFacts FactsOf(pid_t pid);

}  // namespace kestrel::test
