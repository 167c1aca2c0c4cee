#include "platform/worker_process.h"

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kestrel {
namespace {

// Each text goes with its length in front, 4 bytes in the machine's order:
// both ends are this same program.
constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SendText(int fd, const std::string& text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  char header[kLengthBytes];
  std::memcpy(header, &length, kLengthBytes);
  return SendAll(fd, header, kLengthBytes) && SendAll(fd, text.data(), text.size());
}

bool ReceiveAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Takes one whole text off the front of what was received.
std::optional<std::string> TakeText(std::string& received) {
  if (received.size() < kLengthBytes) return std::nullopt;
  std::uint32_t length = 0;
  std::memcpy(&length, received.data(), kLengthBytes);
  if (received.size() - kLengthBytes < length) return std::nullopt;
  std::string text = received.substr(kLengthBytes, length);
  received.erase(0, kLengthBytes + length);
  return text;
}

void Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::optional<std::string> RequestChannel::Next() {
  char header[kLengthBytes];
  if (!ReceiveAll(fd_, header, kLengthBytes)) return std::nullopt;
  std::uint32_t length = 0;
  std::memcpy(&length, header, kLengthBytes);
  std::string text(length, '\0');
  if (!ReceiveAll(fd_, text.data(), length)) return std::nullopt;
  return text;
}

bool RequestChannel::Answer(const std::string& text) { return SendText(fd_, text); }

std::optional<ServingWorker> StartServingWorker(const std::function<void(RequestChannel&)>& serve) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return std::nullopt;
  UniqueFd parentEnd(fds[0]);
  UniqueFd workerEnd(fds[1]);
  std::fflush(nullptr);  // so that buffered output is not written twice
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    parentEnd.Reset();
    RequestChannel channel(workerEnd.Get());
    serve(channel);
    // _exit: the copy must not run the parent's exit handlers or flush its buffers.
    ::_exit(0);
  }
  ServingWorker worker;
  worker.pid = pid;
  worker.socket = std::move(parentEnd);
  return worker;
}

bool SendRequest(ServingWorker& worker, const std::string& text) { return SendText(worker.socket.Get(), text); }

void EndRequests(ServingWorker& worker) { ::shutdown(worker.socket.Get(), SHUT_WR); }

WorkerEvent WaitForWorkers(std::vector<ServingWorker>& workers) {
  std::vector<pollfd> polled(workers.size());
  for (;;) {
    for (std::size_t i = 0; i < workers.size(); ++i) {
      if (auto text = TakeText(workers[i].received)) return WorkerEvent{i, std::move(text)};
      polled[i] = pollfd{workers[i].socket.Get(), POLLIN, 0};
    }
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      // poll cannot fail otherwise with valid descriptors; treat the first worker as ended.
      polled[0].revents = POLLHUP;
    }
    for (std::size_t i = 0; i < workers.size(); ++i) {
      if (polled[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::recv(workers[i].socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) {
        workers[i].received.append(buffer, static_cast<std::size_t>(got));
        break;
      }
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) break;
      // The end of the socket: the worker has finished (or died).
      Reap(workers[i].pid);
      return WorkerEvent{i, std::nullopt};
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
