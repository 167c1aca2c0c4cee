// The pieces of a confined run that the fork from this process and the fork
// from the zygote (platform/sandbox_zygote.cpp) share: the filter, the
// child's confinement, the output pipe and the parent's watch. Not for use
// outside platform/.
#pragma once

#include <linux/filter.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/sandbox.h"

namespace kestrel {

// The compiled filter that allows these descriptors (and what every child may do).
std::vector<sock_filter> FilterFor(const SandboxDescriptors& descriptors);

// The address space the process has mapped now (a child forked now starts with the same).
std::uint64_t MappedBytesNow();

// The child's side: confines itself (limits, no core dump, the filter; `input`,
// when given, mapped first), runs work and exits with its value. `parent` is
// the process that forked it: if that has gone already, the child ends.
[[noreturn]] void RunChild(const SandboxLimits& limits, const std::vector<sock_filter>& filter, int output,
                           pid_t parent, std::uint64_t mappedAtFork, SandboxInput* input,
                           const std::function<int(int)>& work);

// The pipe the child writes to: the read end does not block.
bool MakeOutputPipe(UniqueFd& readEnd, UniqueFd& writeEnd);

// The parent's side of a running child: receives its output, ends it (`kill`)
// when it hung or sent what was refused, then has it reaped (`reap`, its wait
// status) and tells how it ended. Nothing when it could not be reaped.
std::optional<SandboxResult> WatchChild(const SandboxLimits& limits, pid_t child, UniqueFd readEnd,
                                        const std::function<bool(SandboxOutput& output)>& receive,
                                        const std::function<void()>& kill,
                                        const std::function<std::optional<int>()>& reap);

int RunWork(const SandboxWork& work, const SandboxInput& input, int output);

// RunSandboxedWork through this process's zygote; nothing when it has none, or
// when it has gone and no new one could take the work (the caller then forks).
std::optional<SandboxResult> RunInZygote(const SandboxLimits& limits, int fd, std::uint64_t size,
                                         const SandboxWork& work,
                                         const std::function<bool(SandboxOutput& output)>& receive);

}  // namespace kestrel
