#include "platform/sandbox.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/files.h"
#include "platform/pixel_memory.h"
#include "platform/sandbox_child.h"

namespace kestrel {

// The parent's watch over a running child: its turns of waiting count the
// time the child lives and the time it sleeps without using CPU, leaving out
// time in which the child was stopped or this process did not run.
class ChildWatch {
 public:
  ChildWatch(pid_t child, const SandboxLimits& limits);
  // Waits until fd can be read; false on an error or when the child has hung.
  bool WaitReadable(int fd);
  bool Hung() const { return verdict_ != SandboxEnd::Exited; }
  SandboxEnd Verdict() const { return verdict_; }

 private:
  static constexpr int kTurnMilliseconds = 200;
  static constexpr int kTurnSlackMilliseconds = 100;
  void Tick();

  pid_t child_;
  SandboxLimits limits_;
  std::chrono::steady_clock::time_point last_;
  unsigned long long cpuTicks_ = 0;
  long long living_ = 0;  // milliseconds
  long long idle_ = 0;    // milliseconds
  SandboxEnd verdict_ = SandboxEnd::Exited;  // Exited: not hung
};

namespace {

// What /proc tells of a process: its state letter and the CPU it has used.
struct ChildState {
  bool known = false;
  char letter = 0;
  unsigned long long cpuTicks = 0;
};
ChildState ReadChildState(pid_t pid);

constexpr std::size_t kChildHugePageBlockBytes = std::size_t{256} << 10;

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct FilterRelease {
  void operator()(void* filter) const { seccomp_release(filter); }
};
using FilterContext = std::unique_ptr<void, FilterRelease>;

}  // namespace

// The address space the process has mapped now (the child starts with the same).
std::uint64_t MappedBytesNow() {
  const std::unique_ptr<std::FILE, FileClose> statm(std::fopen("/proc/self/statm", "re"));
  if (!statm) return 0;
  unsigned long long pages = 0;
  const int read = std::fscanf(statm.get(), "%llu", &pages);
  return read == 1 ? pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

namespace {

[[noreturn]] void ExitChild(int code) {
  // Straight to the kernel: no atexit handlers, no stdio flush, nothing of the parent's.
  ::syscall(SYS_exit_group, code);
  for (;;) {
  }
}

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit limit{soft, hard};
  ::setrlimit(resource, &limit);
}

bool Allow(scmp_filter_ctx filter, int syscall) { return seccomp_rule_add(filter, SCMP_ACT_ALLOW, syscall, 0) == 0; }

bool AllowOnFd(scmp_filter_ctx filter, int syscall, int fd) {
  return seccomp_rule_add(filter, SCMP_ACT_ALLOW, syscall, 1, SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd))) == 0;
}

// Everything not allowed here kills the child. Memory may never become executable.
// The program is compiled by libseccomp in the parent, where it costs least.
std::vector<sock_filter> CompileFilter(const SandboxDescriptors& descriptors) {
  const FilterContext context(seccomp_init(SCMP_ACT_KILL_PROCESS));
  if (!context) return {};
  const scmp_filter_ctx filter = context.get();
  bool ok = true;
  for (const int fd : descriptors.readable) {
    for (const int call : {SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(lseek)}) {
      ok = ok && AllowOnFd(filter, call, fd);
    }
  }
  for (const int fd : descriptors.writable) {
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(vmsplice)}) {
      ok = ok && AllowOnFd(filter, call, fd);
    }
  }
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 2, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0),
                              SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_ANONYMOUS, MAP_ANONYMOUS)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
  for (const int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(futex),
                         SCMP_SYS(exit), SCMP_SYS(exit_group), SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask),
                         SCMP_SYS(sched_yield), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(clock_gettime),
                         SCMP_SYS(restart_syscall)}) {
    ok = ok && Allow(filter, call);
  }
  std::vector<sock_filter> program;
  UniqueFd exported(::memfd_create("kestrel-filter", MFD_CLOEXEC));
  if (ok && exported.Valid() && seccomp_export_bpf(filter, exported.Get()) == 0) {
    const off_t bytes = ::lseek(exported.Get(), 0, SEEK_CUR);
    if (bytes > 0 && bytes % static_cast<off_t>(sizeof(sock_filter)) == 0) {
      program.resize(static_cast<std::size_t>(bytes) / sizeof(sock_filter));
      if (::pread(exported.Get(), program.data(), static_cast<std::size_t>(bytes), 0) != bytes) program.clear();
    }
  }
  return program;
}

}  // namespace

// The compiled program for these descriptors: a run of files uses the same
// descriptor numbers each time, so it is compiled once.
std::vector<sock_filter> FilterFor(const SandboxDescriptors& descriptors) {
  static std::mutex mutex;
  static SandboxDescriptors compiledFor;
  static std::vector<sock_filter> compiled;
  const std::lock_guard lock(mutex);
  if (compiled.empty() || compiledFor.readable != descriptors.readable ||
      compiledFor.writable != descriptors.writable) {
    compiled = CompileFilter(descriptors);
    compiledFor = descriptors;
  }
  return compiled;
}

namespace {

bool InstallFilter(const std::vector<sock_filter>& program) {
  if (program.empty() || program.size() > 0xFFFF) return false;
  sock_fprog filter{static_cast<unsigned short>(program.size()), const_cast<sock_filter*>(program.data())};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

[[noreturn]] void ExitOutOfMemory() { ExitChild(kSandboxOutOfMemoryExit); }

}  // namespace

[[noreturn]] void RunChild(const SandboxLimits& limits, const std::vector<sock_filter>& filter, int output,
                           pid_t parent, std::uint64_t mappedAtFork, SandboxInput* input,
                           const std::function<int(int)>& work) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ExitChild(125);
  ::prctl(PR_SET_DUMPABLE, 0);
  SetLimit(RLIMIT_CORE, 0, 0);
  // The time zone is read here, while files may still be opened: the colour
  // library dates the profiles it builds, and the C library would otherwise
  // open the zone file then, a call the filter forbids.
  ::tzset();
  const rlim_t cpu = static_cast<rlim_t>(limits.cpuSeconds);
  SetLimit(RLIMIT_CPU, cpu, cpu + 1);
  if (mappedAtFork > 0) {
    const rlim_t space = static_cast<rlim_t>(mappedAtFork + limits.extraAddressSpace);
    SetLimit(RLIMIT_AS, space, space);
  }
  // The decoder's buffers are dropped with the child, so even a small image's
  // go on huge pages, and all it frees may be kept for reuse (given back
  // should the limit be reached).
  SetHugePageBlockBytes(kChildHugePageBlockBytes);
  SetKeptBlockBytes(SIZE_MAX);
  // Memory refused at the limit ends the child here, before a library that
  // misses the null (or catches the exception) can turn it into a crash or a
  // plain failure. malloc's failures come from the block allocator, new's
  // from the handler (and from an exception that still escapes).
  SetAllocationFailureHandler(ExitOutOfMemory);
  std::set_new_handler(ExitOutOfMemory);
  // Mapped here, within the limit, as the filter refuses a mapping of a file.
  if (input != nullptr && input->size > 0) {
    void* bytes = ::mmap(nullptr, input->size, PROT_READ, MAP_PRIVATE, input->fd, 0);
    input->mapped = bytes == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(bytes);
  }
  if (!InstallFilter(filter)) ExitChild(124);
  try {
    ExitChild(work(output));
  } catch (const std::bad_alloc&) {
    ExitOutOfMemory();
  }
}

namespace {

// Reads and drops what the child still writes, until it closes its end (it has
// ended) or it is judged hung. True when it ended.
bool DrainUntilClosed(int fd, ChildWatch& watch) {
  char scrap[4096];
  for (;;) {
    const ssize_t n = ::read(fd, scrap, sizeof scrap);
    if (n == 0) return true;
    if (n > 0 || errno == EINTR) continue;
    if (errno != EAGAIN || !watch.WaitReadable(fd)) return false;
  }
}

ChildState ReadChildState(pid_t pid) {
  ChildState state;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return state;
  char text[1024];
  const ssize_t n = ::read(fd.Get(), text, sizeof text - 1);
  if (n <= 0) return state;
  text[n] = '\0';
  // "pid (name) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime ..."
  const char* afterName = std::strrchr(text, ')');
  if (afterName == nullptr) return state;
  char letter = 0;
  unsigned long long user = 0, system = 0;
  if (std::sscanf(afterName + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &letter, &user,
                  &system) != 3) {
    return state;
  }
  state.known = true;
  state.letter = letter;
  state.cpuTicks = user + system;
  return state;
}

}  // namespace

ChildWatch::ChildWatch(pid_t child, const SandboxLimits& limits)
    : child_(child), limits_(limits), last_(std::chrono::steady_clock::now()) {}

void ChildWatch::Tick() {
  const auto now = std::chrono::steady_clock::now();
  // Output that comes often is no occasion to look at the child each time.
  if (now - last_ < std::chrono::milliseconds(kTurnMilliseconds)) return;
  // A turn that took far longer than asked means this process was stopped or
  // not scheduled: only what a turn should take is counted.
  const auto elapsed = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(now - last_),
                                std::chrono::milliseconds(kTurnMilliseconds + kTurnSlackMilliseconds));
  last_ = now;
  const ChildState state = ReadChildState(child_);
  const bool stopped = state.letter == 'T' || state.letter == 't';
  const bool sleeping = state.letter == 'S';
  if (stopped) {
    idle_ = 0;
  } else {
    living_ += elapsed.count();
    idle_ = sleeping && state.cpuTicks == cpuTicks_ ? idle_ + elapsed.count() : 0;
  }
  cpuTicks_ = state.cpuTicks;
  if (living_ >= limits_.wallMilliseconds) verdict_ = SandboxEnd::TimedOut;
  if (idle_ >= limits_.idleMilliseconds) verdict_ = SandboxEnd::Stalled;
}

bool ChildWatch::WaitReadable(int fd) {
  while (!Hung()) {
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, kTurnMilliseconds);
    if (ready > 0) {
      Tick();
      return true;
    }
    if (ready < 0 && errno != EINTR) return false;
    Tick();
  }
  return false;
}

std::uint64_t PhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) : 0;
}

bool SandboxOutput::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::read(fd_, bytes, size);
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
    } else if (n == 0) {
      closed_ = true;
      return false;
    } else if (errno == EAGAIN) {
      if (!watch_.WaitReadable(fd_)) {
        timedOut_ = watch_.Hung();
        return false;
      }
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool MakeOutputPipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  readEnd = UniqueFd(pipeFds[0]);
  writeEnd = UniqueFd(pipeFds[1]);
  ::fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
  ::fcntl(writeEnd.Get(), F_SETPIPE_SZ, 1 << 20);  // fewer turns for a large image; the default size also works
  return true;
}

std::optional<SandboxResult> WatchChild(const SandboxLimits& limits, pid_t child, UniqueFd readEnd,
                                        const std::function<bool(SandboxOutput& output)>& receive,
                                        const std::function<void()>& kill,
                                        const std::function<std::optional<int>()>& reap) {
  ChildWatch watch(child, limits);
  bool refused = false;
  bool late = false;
  if (receive) {
    SandboxOutput output(readEnd.Get(), watch);
    // Output cut short by the child's own end is no refusal: its status tells
    // what happened. Nor is output that stopped coming because the child hung.
    const bool received = receive(output);
    late = !received && output.TimedOut();
    refused = !received && !output.Closed() && !late;
  }
  const bool ended = !refused && !late && DrainUntilClosed(readEnd.Get(), watch);
  readEnd.Reset();
  if (!ended) kill();

  const std::optional<int> reaped = reap();
  if (!reaped) return std::nullopt;
  const int status = *reaped;
  SandboxResult result;
  if (refused) {
    result.end = SandboxEnd::Refused;
  } else if (!ended) {
    result.end = watch.Hung() ? watch.Verdict() : SandboxEnd::TimedOut;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == kSandboxOutOfMemoryExit) {
    result.end = SandboxEnd::OutOfMemory;
    result.exitCode = kSandboxOutOfMemoryExit;
  } else if (WIFEXITED(status)) {
    result.end = SandboxEnd::Exited;
    result.exitCode = WEXITSTATUS(status);
  } else {
    result.end = SandboxEnd::Signalled;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

int RunWork(const SandboxWork& work, const SandboxInput& input, int output) {
  return work.run(work.arguments.data(), work.arguments.size(), input, output);
}

namespace {

// Forks the confined child here; `input`, when given, is mapped in it before its filter is set.
SandboxResult ForkSandboxed(const SandboxLimits& limits, const SandboxDescriptors& descriptors, SandboxInput* input,
                            const std::function<int(int output)>& work,
                            const std::function<bool(SandboxOutput& output)>& receive) {
  // The child holds the write end: its results come through it, and its end
  // (however it comes) closes the pipe. The parent's end never blocks.
  UniqueFd readEnd;
  UniqueFd writeEnd;
  if (!MakeOutputPipe(readEnd, writeEnd)) return SandboxResult{};
  SandboxDescriptors allowed = descriptors;
  allowed.writable.push_back(writeEnd.Get());
  const std::vector<sock_filter> filter = FilterFor(allowed);
  const std::uint64_t mapped = MappedBytesNow();
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) return SandboxResult{};
  if (child == 0) {
    readEnd.Reset();
    RunChild(limits, filter, writeEnd.Get(), parent, mapped, input, work);
  }
  writeEnd.Reset();
  const auto result = WatchChild(
      limits, child, std::move(readEnd), receive, [child] { ::kill(child, SIGKILL); },
      [child]() -> std::optional<int> {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) {
          if (errno != EINTR) return std::nullopt;
        }
        return status;
      });
  return result.value_or(SandboxResult{});
}

}  // namespace

SandboxResult RunSandboxed(const SandboxLimits& limits, const SandboxDescriptors& descriptors,
                           const std::function<int(int output)>& work,
                           const std::function<bool(SandboxOutput& output)>& receive) {
  return ForkSandboxed(limits, descriptors, nullptr, work, receive);
}

SandboxResult RunSandboxedWork(const SandboxLimits& limits, int fd, std::uint64_t size, const SandboxWork& work,
                               const std::function<bool(SandboxOutput& output)>& receive) {
  if (const auto viaZygote = RunInZygote(limits, fd, size, work, receive)) return *viaZygote;
  SandboxInput input{fd, size, nullptr};
  return ForkSandboxed(limits, SandboxDescriptors{{fd}, {}}, &input,
                       [&](int output) { return RunWork(work, input, output); }, receive);
}

}  // namespace kestrel
