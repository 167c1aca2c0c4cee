// Runs a piece of untrusted-input work (a decoder) in a forked child that can
// do nothing but compute: it may read the descriptors it is given, write to the
// ones it is given, manage its memory and exit. Opening files, creating
// processes, the network and executable memory are refused by a seccomp filter
// that kills the child. Limits on address space, CPU time and wall-clock time
// end a child that runs away; core dumps are off. Whatever happens to the
// child, the caller gets a value back.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel {

struct SandboxLimits {
  // Address space the child may add to what the process had mapped at the fork.
  std::uint64_t extraAddressSpace = 512ull << 20;
  int cpuSeconds = 2;
  int wallMilliseconds = 3000;
};

struct SandboxDescriptors {
  std::vector<int> readable;  // read, pread, lseek
  std::vector<int> writable;  // write, ftruncate, shared mapping (a pipe, a memfd)
};

enum class SandboxEnd {
  Exited,     // the child exited by itself; see exitCode
  Signalled,  // a signal ended it (a crash, the seccomp filter, the CPU limit)
  TimedOut,   // killed at the wall-clock limit
  NotStarted, // the child could not be created
};

struct SandboxResult {
  SandboxEnd end = SandboxEnd::NotStarted;
  int exitCode = -1;
  int signal = 0;
  bool Succeeded() const { return end == SandboxEnd::Exited && exitCode == 0; }
};

// Forks, confines the child and runs work there; the child exits with work's
// return value. Waits for the child (at most the wall-clock limit) and reaps it.
SandboxResult RunSandboxed(const SandboxLimits& limits, const SandboxDescriptors& descriptors,
                           const std::function<int()>& work);

// Physical memory of the machine in bytes (0 when unknown).
std::uint64_t PhysicalMemoryBytes();

}  // namespace kestrel
