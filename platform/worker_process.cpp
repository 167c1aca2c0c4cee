#include "platform/worker_process.h"

#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kestrel {
namespace {

// Reaps the worker; true when it exited by itself with code 0.
bool Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::optional<WorkerProcess> StartWorker(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  std::fflush(nullptr);  // so that buffered output is not written twice
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    readEnd.Reset();
    const std::string text = work();
    // _exit: the copy must not run the parent's exit handlers or flush its buffers.
    ::_exit(WriteAll(writeEnd.Get(), text.data(), text.size()) ? 0 : 1);
  }
  writeEnd.Reset();
  WorkerProcess worker;
  worker.pid = pid;
  worker.output = std::move(readEnd);
  return worker;
}

FinishedWorker WaitForWorker(std::vector<WorkerProcess>& workers) {
  std::vector<pollfd> polled(workers.size());
  for (;;) {
    for (std::size_t i = 0; i < workers.size(); ++i) polled[i] = pollfd{workers[i].output.Get(), POLLIN, 0};
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      // poll cannot fail otherwise with valid descriptors; treat the first worker as ended.
      polled[0].revents = POLLHUP;
    }
    for (std::size_t i = 0; i < workers.size(); ++i) {
      if (polled[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(workers[i].output.Get(), buffer, sizeof buffer);
      if (got > 0) {
        workers[i].text.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // The end of the pipe: the worker has finished (or died).
      FinishedWorker finished;
      finished.tag = workers[i].tag;
      const bool exited = Reap(workers[i].pid);
      if (exited && got == 0) finished.text = std::move(workers[i].text);
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(i));
      return finished;
    }
  }
}

int ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

}  // namespace kestrel
