// Runs one command and prints its wall time in milliseconds, its peak resident
// memory in kilobytes, its exit status and the CPU time (user + system) in
// milliseconds of the whole process tree as the kernel counts it when the
// command is reaped (its children's and their children's, once reaped,
// included): "MS KB STATUS CPU-MS". The bench script
// measures through this small program because a child forked from the script
// itself would report the interpreter's own memory as its peak.
// Usage: measure_run PROGRAM [ARGS...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) return 2;
  if (child == 0) {
    ::execvp(argv[1], argv + 1);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child) return 2;
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const auto millis = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
  std::printf("%.3f %ld %d %.3f\n", ms, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
              millis(usage.ru_utime) + millis(usage.ru_stime));
  return 0;
}
