#include "tests/support/test_support.h"

#include "platform/leak_suppressions.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrel::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Make read-only folders of a test removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> RunResult::Lines() const {
  std::vector<std::string> lines;
  std::istringstream stream(out);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

bool RunResult::HasLine(const std::string& line) const {
  const auto lines = Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

RunOptions InDirectory(std::string folder) {
  RunOptions options;
  options.workingDirectory = std::move(folder);
  return options;
}

RunOptions WithInput(std::string text) {
  RunOptions options;
  options.input = std::move(text);
  return options;
}

RunOptions WithEnvironment(std::string name, std::string value) {
  RunOptions options;
  options.environment.emplace_back(std::move(name), std::move(value));
  return options;
}

RunResult RunKestrel(const std::vector<std::string>& arguments, const RunOptions& options) {
  static TempDir lockFolders;
  static int runNumber = 0;
  const std::string lockFolder = lockFolders.File(std::to_string(::getpid()) + "-" + std::to_string(++runNumber));
  std::filesystem::create_directories(lockFolder);

  int outPipe[2], errPipe[2], inPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 || ::pipe2(inPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(inPipe[0], STDIN_FILENO);
    ::dup2(outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    ::setenv("XDG_RUNTIME_DIR", lockFolder.c_str(), 1);
    for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    std::string binary = options.binary.empty() ? std::string(KESTREL_BINARY) : options.binary;
    argv.push_back(binary.data());
    std::vector<std::string> copies = arguments;
    for (auto& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  if (pid > 0 && options.started) options.started(pid);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (!options.input.empty()) {
    [[maybe_unused]] auto written = ::write(inPipe[1], options.input.data(), options.input.size());
  }
  ::close(inPipe[1]);

  RunResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (auto& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      const ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fd.fd);
        fd.fd = -1;
        --open;
      } else {
        (fd.fd == outPipe[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string SourcePath(const std::string& relative) { return std::string(KESTREL_SOURCE_DIR) + "/" + relative; }

std::string CorpusPath(const std::string& relative) { return std::string(KESTREL_CORPUS_DIR) + "/" + relative; }

bool CorpusAvailable() { return std::filesystem::is_directory(CorpusPath("psd")); }

std::string MakePsd(const std::string& folder, const std::string& name, const std::string& kind, int width,
                    int height) {
  const std::string path = folder + "/" + name;
  const std::string command = "python3 '" + SourcePath("tools/make_psd.py") + "' '" + path + "' " + kind + " " +
                              std::to_string(width) + " " + std::to_string(height);
  if (std::system(command.c_str()) != 0) throw std::runtime_error("make_psd.py failed: " + command);
  return path;
}

void PrepareTestState(AppState& state, std::vector<std::string>& lines) {
  state.print = [&lines](std::string_view line) { lines.emplace_back(line); };
  PrepareCommandLineState(state);
}

std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  ::pclose(pipe);
  return output;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
  const std::string id = std::to_string(parent);
  std::ifstream list("/proc/" + id + "/task/" + id + "/children");
  std::vector<pid_t> children;
  for (pid_t child = 0; list >> child;) children.push_back(child);
  return children;
}

ProcessFacts FactsOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  ProcessFacts facts;
  const auto close = text.rfind(')');  // the name may hold anything
  if (close == std::string::npos) return facts;
  std::istringstream rest(text.substr(close + 1));
  rest >> facts.state >> facts.parent;
  return facts;
}

}  // namespace kestrel::test
