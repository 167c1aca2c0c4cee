// Runs a piece of untrusted-input work (a decoder) in a forked child that can
// do nothing but compute: it may read the descriptors it is given, write to the
// ones it is given and to a pipe back to the parent, manage its memory and
// exit. Opening files, creating processes, the network and executable memory
// are refused by a seccomp filter that kills the child. A limit on address
// space and one on the CPU time the child uses end a child that runs away; a
// child that sleeps without using any CPU, or that outlives a generous
// wall-clock bound, has hung and is killed. Time in which the child (or the
// parent watching it) was stopped, as by Ctrl-Z, is not counted. Core dumps are off. An allocation that the
// address-space limit refuses ends the child at once with an exit code of its
// own, so that running out of memory is told apart from a crash it would
// otherwise cause (in sanitizer builds the sanitizer's allocator meets the
// limit instead, and its report is a forbidden write that ends the child).
// Whatever happens to the child, the caller gets a value back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel {

struct SandboxLimits {
  // Address space the child may add to what the process had mapped at the fork.
  std::uint64_t extraAddressSpace = 512ull << 20;
  // CPU time the child may use (RLIMIT_CPU): what the work may cost.
  int cpuSeconds = 2;
  // Time the child may exist, stopped time left out: only a hang reaches it.
  int wallMilliseconds = 30000;
  // Time the child may sleep on end without using CPU (a deadlock).
  int idleMilliseconds = 3000;
};

struct SandboxDescriptors {
  std::vector<int> readable;  // read, pread, lseek
  std::vector<int> writable;  // write, writev, vmsplice (pipes)
};

enum class SandboxEnd {
  Exited,       // the child exited by itself; see exitCode
  Signalled,    // a signal ended it (a crash, the seccomp filter, the CPU limit)
  TimedOut,     // killed at the wall-clock bound
  Stalled,      // killed after sleeping without using CPU for the idle limit
  OutOfMemory,  // an allocation failed at the address-space limit
  Refused,      // the parent refused what the child sent and ended it
  NotStarted,   // the child could not be created
};

// The exit code with which a child reports an allocation that failed; work
// must not return it.
inline constexpr int kSandboxOutOfMemoryExit = 123;

struct SandboxResult {
  SandboxEnd end = SandboxEnd::NotStarted;
  int exitCode = -1;
  int signal = 0;
  bool Succeeded() const { return end == SandboxEnd::Exited && exitCode == 0; }
};

class ChildWatch;

// The parent's end of the pipe the child writes its results to.
class SandboxOutput {
 public:
  SandboxOutput(int fd, ChildWatch& watch) : fd_(fd), watch_(watch) {}
  // Fills all of buffer; false at the end of the output, on an error or when the child has hung.
  bool Read(void* buffer, std::size_t size);
  // The child has closed its end (it has ended).
  bool Closed() const { return closed_; }
  // A read waited until the child was judged hung.
  bool TimedOut() const { return timedOut_; }

 private:
  int fd_;
  ChildWatch& watch_;
  bool closed_ = false;
  bool timedOut_ = false;
};

// Forks, confines the child and runs work there, given the write end of the
// output pipe; the child exits with work's return value. Meanwhile the parent
// runs receive (if any) over the output; when it returns false the child is
// ended at once. Then waits for the child (until it ends or hangs) and reaps it.
SandboxResult RunSandboxed(const SandboxLimits& limits, const SandboxDescriptors& descriptors,
                           const std::function<int(int output)>& work,
                           const std::function<bool(SandboxOutput& output)>& receive = nullptr);

// The file a confined work reads: its open descriptor and its bytes, mapped
// read-only in the child before the filter is set (null when they could not be).
struct SandboxInput {
  int fd = -1;
  std::uint64_t size = 0;
  const std::uint8_t* mapped = nullptr;
};

// Work that a pre-started decoder parent (StartSandboxZygote) can run as well
// as this process: a plain function of this program, which the zygote, a copy
// of it, has at the same address, and the bytes of its arguments (a trivially
// copyable struct). It gives the child's exit code.
struct SandboxWork {
  int (*run)(const std::uint8_t* arguments, std::size_t size, const SandboxInput& input, int output) = nullptr;
  std::vector<std::uint8_t> arguments;
};

// RunSandboxed for a SandboxWork that reads the file `fd` of `size` bytes:
// through this process's zygote when it has one, forked from here otherwise.
SandboxResult RunSandboxedWork(const SandboxLimits& limits, int fd, std::uint64_t size, const SandboxWork& work,
                               const std::function<bool(SandboxOutput& output)>& receive = nullptr);

// Starts this process's zygote: a small copy of it, made now (before the
// process maps much or starts threads), that forks the confined child of each
// later RunSandboxedWork instead of this process. Its filter and limits are
// those of RunSandboxed, set in each child anew, so that children share
// nothing. False when it could not be started (the work is then forked from here).
bool StartSandboxZygote();
// Ends this process's zygote, if it has one, and reaps it (so that its
// children's CPU time is counted in this process's).
void StopSandboxZygote();

// This process's zygote for the holder's lifetime.
class SandboxZygoteHold {
 public:
  SandboxZygoteHold() { StartSandboxZygote(); }
  ~SandboxZygoteHold() { StopSandboxZygote(); }
  SandboxZygoteHold(const SandboxZygoteHold&) = delete;
  SandboxZygoteHold& operator=(const SandboxZygoteHold&) = delete;
};

// Physical memory of the machine in bytes (0 when unknown).
std::uint64_t PhysicalMemoryBytes();

}  // namespace kestrel
