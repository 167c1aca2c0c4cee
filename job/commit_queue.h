// Outputs written but not yet committed, committed in their order on a thread
// of their own: a batch worker converts the next files while the disk takes
// the last ones, instead of waiting for it after every file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/settings.h"
#include "platform/files.h"

namespace kestrel {

// A converted file whose output is written but not yet committed.
struct Uncommitted {
  std::size_t index = 0;  // the item's place in the batch
  std::string input;
  std::string output;
  std::vector<AtomicFile> files;
};

class CommitQueue {
 public:
  // `done` hears of each file once its commit is complete, with the reason
  // it failed (empty when it did not). It is called on the queue's
  // thread and must be safe to call beside the caller's own work.
  CommitQueue(const Settings& settings, std::function<void(const Uncommitted&, const std::string&)> done);
  // Commits what is still queued, then ends the thread.
  ~CommitQueue();
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  // Queues a file; waits while kHeld files are queued.
  void Add(Uncommitted file);

 private:
  static constexpr std::size_t kHeld = 8;
  void Run();

  const Settings& settings_;
  std::function<void(const Uncommitted&, const std::string&)> done_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Uncommitted> queue_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace kestrel
