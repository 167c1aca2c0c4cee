// The zygote: a copy of the process made before it grows, that forks each
// confined child for it. Forking a process copies its page tables, and both
// copies then pay a fault for every page either writes; a worker that has
// decoded and saved many files has far more of them than the zygote, which
// only ever waits for the next request. The zygote never reads an input: it
// passes the descriptors it is sent to a child, which confines itself exactly
// as a child forked from the worker would (platform/sandbox_child.h), so each
// file is still decoded in a fresh process that shares nothing with the
// previous one's.
//
// The worker sends the limits, the work (a function of this program, at the
// same address in the zygote, and its argument bytes) and, beside them, the
// input file and the write end of the output pipe. The zygote answers with
// the child's pid and a pidfd of it (the worker reads the child's state
// through /proc and can end it; the pidfd makes sure that a kill never
// reaches another process with a reused pid), and then, once it has reaped
// the child, with its wait status.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/sandbox_child.h"

namespace kestrel {
namespace {

using WorkFunction = decltype(SandboxWork::run);

// The most argument bytes a request carries (a work's arguments are a small struct).
constexpr std::size_t kMaxArgumentBytes = 4096;

struct Request {
  SandboxLimits limits;
  WorkFunction run = nullptr;
  std::uint64_t size = 0;  // of the input file
  std::uint32_t argumentBytes = 0;
};

struct Started {
  pid_t pid = -1;  // -1: no child could be made
};

struct Ended {
  int status = 0;
};

// Sends the bytes of one message, with up to two descriptors beside them.
bool SendMessage(int socket, const void* data, std::size_t size, const std::vector<int>& fds) {
  iovec part{const_cast<void*>(data), size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
  if (!fds.empty()) {
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(header), fds.data(), fds.size() * sizeof(int));
  }
  for (;;) {
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent) == size;
    if (errno != EINTR) return false;
  }
}

// Receives one message into data (its size in `size`), and the descriptors
// that came with it, each owned by the caller. False at the end or on an error.
bool ReceiveMessage(int socket, void* data, std::size_t& size, std::vector<UniqueFd>& fds) {
  iovec part{data, size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received = 0;
  do {
    received = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (received < 0 && errno == EINTR);
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); received >= 0 && header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
      fds.emplace_back(fd);
    }
  }
  if (received <= 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) return false;
  size = static_cast<std::size_t>(received);
  return true;
}


// Forks the child for one request; its pid, or -1.
pid_t StartChild(const Request& request, const std::uint8_t* arguments, UniqueFd& input, UniqueFd& output,
                 int socket) {
  const std::vector<sock_filter> filter = FilterFor(SandboxDescriptors{{input.Get()}, {output.Get()}});
  const std::uint64_t mapped = MappedBytesNow();
  const pid_t zygote = ::getpid();
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::close(socket);
  SandboxInput file{input.Get(), request.size, nullptr};
  const SandboxWork work{request.run, std::vector<std::uint8_t>(arguments, arguments + request.argumentBytes)};
  RunChild(request.limits, filter, output.Get(), zygote, mapped, &file,
           [&](int out) { return RunWork(work, file, out); });
}

// The zygote's life: one child at a time, until the worker closes its end.
[[noreturn]] void ServeZygote(int socket, pid_t worker) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != worker) ::_exit(0);
  std::vector<std::uint8_t> message(sizeof(Request) + kMaxArgumentBytes);
  for (;;) {
    std::size_t size = message.size();
    std::vector<UniqueFd> fds;
    if (!ReceiveMessage(socket, message.data(), size, fds)) ::_exit(0);
    Request request;
    if (size < sizeof request || fds.size() != 2) ::_exit(1);
    std::memcpy(&request, message.data(), sizeof request);
    if (size != sizeof request + request.argumentBytes) ::_exit(1);
    const pid_t child = StartChild(request, message.data() + sizeof request, fds[0], fds[1], socket);
    fds.clear();
    UniqueFd pidfd(child > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, child, 0)) : -1);
    if (child > 0 && !pidfd.Valid()) ::kill(child, SIGKILL);
    const Started started{pidfd.Valid() ? child : -1};
    const bool told = SendMessage(socket, &started, sizeof started, pidfd.Valid() ? std::vector<int>{pidfd.Get()}
                                                                                  : std::vector<int>{});
    if (child <= 0) {
      if (!told) ::_exit(0);
      continue;
    }
    pidfd.Reset();
    Ended ended;
    while (::waitpid(child, &ended.status, 0) < 0 && errno == EINTR) {
    }
    if (!told || !SendMessage(socket, &ended, sizeof ended, {})) ::_exit(0);
  }
}

// The worker's hold on its zygote: the zygote ends when the socket closes (or
// this process ends), and is reaped here.
struct Zygote {
  pid_t owner = -1;  // the process that started it: a fork of that process must not use it
  pid_t pid = -1;
  UniqueFd socket;
  ~Zygote() {
    // It holds nothing of its own: a zygote that has gone astray is ended rather than waited for.
    socket.Reset();
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
};

std::unique_ptr<Zygote>& CurrentZygote() {
  static std::unique_ptr<Zygote> zygote;
  return zygote;
}

Zygote* ZygoteOfThisProcess() {
  Zygote* zygote = CurrentZygote().get();
  return zygote != nullptr && zygote->owner == ::getpid() ? zygote : nullptr;
}

// One run through the zygote; nothing when the zygote failed (not the child).
std::optional<SandboxResult> RunThrough(Zygote& zygote, const SandboxLimits& limits, int fd, std::uint64_t size,
                                        const SandboxWork& work,
                                        const std::function<bool(SandboxOutput& output)>& receive) {
  UniqueFd readEnd;
  UniqueFd writeEnd;
  if (!MakeOutputPipe(readEnd, writeEnd)) return SandboxResult{};
  Request request{limits, work.run, size, static_cast<std::uint32_t>(work.arguments.size())};
  std::vector<std::uint8_t> message(sizeof request + work.arguments.size());
  std::memcpy(message.data(), &request, sizeof request);
  if (!work.arguments.empty()) std::memcpy(message.data() + sizeof request, work.arguments.data(), work.arguments.size());
  if (!SendMessage(zygote.socket.Get(), message.data(), message.size(), {fd, writeEnd.Get()})) return std::nullopt;
  writeEnd.Reset();
  Started started;
  std::vector<UniqueFd> pidfds;
  std::size_t bytes = sizeof started;
  if (!ReceiveMessage(zygote.socket.Get(), &started, bytes, pidfds) || bytes != sizeof started) return std::nullopt;
  if (started.pid < 0) return SandboxResult{};  // the fork failed: as it would have here
  if (pidfds.size() != 1) return std::nullopt;
  const int pidfd = pidfds.front().Get();
  const int socket = zygote.socket.Get();
  return WatchChild(
      limits, started.pid, std::move(readEnd), receive,
      [pidfd] { ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0); },
      [socket]() -> std::optional<int> {
        Ended ended;
        std::vector<UniqueFd> none;
        std::size_t bytes = sizeof ended;
        if (!ReceiveMessage(socket, &ended, bytes, none) || bytes != sizeof ended || !none.empty()) return std::nullopt;
        return ended.status;
      });
}

}  // namespace

bool StartSandboxZygote() {
  StopSandboxZygote();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return false;
  UniqueFd workerEnd(fds[0]);
  UniqueFd zygoteEnd(fds[1]);
  const pid_t worker = ::getpid();
  std::fflush(nullptr);  // so that buffered output is not written twice
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    workerEnd.Reset();
    ServeZygote(zygoteEnd.Get(), worker);
  }
  auto zygote = std::make_unique<Zygote>();
  zygote->owner = worker;
  zygote->pid = pid;
  zygote->socket = std::move(workerEnd);
  CurrentZygote() = std::move(zygote);
  return true;
}

void StopSandboxZygote() {
  // A zygote inherited from the process that forked this one is not this one's to end.
  if (ZygoteOfThisProcess() == nullptr) (void)CurrentZygote().release();
  CurrentZygote().reset();
}

std::optional<SandboxResult> RunInZygote(const SandboxLimits& limits, int fd, std::uint64_t size,
                                         const SandboxWork& work,
                                         const std::function<bool(SandboxOutput& output)>& receive) {
  // The zygote serves one request at a time: its messages must not interleave.
  static std::mutex serving;
  const std::lock_guard hold(serving);
  Zygote* zygote = ZygoteOfThisProcess();
  if (zygote == nullptr || work.arguments.size() > kMaxArgumentBytes) return std::nullopt;
  if (auto result = RunThrough(*zygote, limits, fd, size, work, receive)) return result;
  // The zygote has gone (nothing of the file's doing: it never reads one). A
  // new one takes this file and the next; failing that, they are forked from here.
  if (!StartSandboxZygote()) return std::nullopt;
  if (auto result = RunThrough(*ZygoteOfThisProcess(), limits, fd, size, work, receive)) return result;
  StopSandboxZygote();
  return std::nullopt;
}

}  // namespace kestrel
