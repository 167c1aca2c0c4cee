// Work done in a forked copy of this process, whose only result is a text
// sent back through a pipe. Each copy starts from the parent's state at the
// fork, so whatever one piece of work changes never reaches the next.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace kestrel {

struct WorkerProcess {
  std::size_t tag = 0;  // the caller's name for the work
  pid_t pid = -1;
  UniqueFd output;    // the parent's end of the pipe
  std::string text;   // what the worker has sent so far
};

// Forks a worker that runs work and sends back what it returns; nothing when
// no worker could be made.
std::optional<WorkerProcess> StartWorker(const std::function<std::string()>& work);

struct FinishedWorker {
  std::size_t tag = 0;
  std::optional<std::string> text;   // nothing when the worker did not end normally
};

// Waits until one of the workers (there must be at least one) has ended,
// reaps it and removes it from the list.
FinishedWorker WaitForWorker(std::vector<WorkerProcess>& workers);

// The number of processors this process may run on (at least 1).
int ProcessorCount();

}  // namespace kestrel
