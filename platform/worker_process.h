// Work done in forked copies of this process that each serve many requests:
// the parent sends a request as a text, the worker answers with a text, both
// framed by their length on one socket. A worker starts from the parent's
// state at the fork; what it keeps from one request to the next is its own
// business.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace kestrel {

// The worker's end of its socket.
class RequestChannel {
 public:
  explicit RequestChannel(int fd) : fd_(fd) {}
  // The next request; nothing once the parent has sent its last one.
  std::optional<std::string> Next();
  bool Answer(const std::string& text);

 private:
  int fd_;
};

struct ServingWorker {
  pid_t pid = -1;
  UniqueFd socket;       // the parent's end
  std::string received;  // answer bytes read, not yet a whole answer
};

// Forks a worker that runs serve and then ends; nothing when no worker could be made.
std::optional<ServingWorker> StartServingWorker(const std::function<void(RequestChannel&)>& serve);

// Sends the worker a request; false when it has gone.
bool SendRequest(ServingWorker& worker, const std::string& text);
// Tells the worker that no request follows; it ends once it has answered the others.
void EndRequests(ServingWorker& worker);

struct WorkerEvent {
  std::size_t worker = 0;             // the worker's index in the list
  std::optional<std::string> answer;  // nothing when the worker has ended
};

// Waits for the next answer of any worker (there must be at least one), or
// for one to end; an ended worker is reaped, and the caller removes it.
WorkerEvent WaitForWorkers(std::vector<ServingWorker>& workers);

// The number of processors this process may run on (at least 1).
int ProcessorCount();

}  // namespace kestrel
