#include "job/commit_queue.h"

#include <utility>

#include "output/file_dates.h"
#include "output/save.h"

namespace kestrel {

CommitQueue::CommitQueue(const Settings& settings, std::function<void(const Uncommitted&, const std::string&)> done)
    : settings_(settings), done_(std::move(done)), thread_([this] { Run(); }) {}

CommitQueue::~CommitQueue() {
  {
    const std::lock_guard hold(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CommitQueue::Add(Uncommitted file) {
  std::unique_lock hold(lock_);
  changed_.wait(hold, [this] { return queue_.size() < kHeld; });
  queue_.push_back(std::move(file));
  hold.unlock();
  changed_.notify_all();
}

void CommitQueue::Run() {
  for (;;) {
    std::unique_lock hold(lock_);
    changed_.wait(hold, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) return;
    Uncommitted item = std::move(queue_.front());
    queue_.pop_front();
    hold.unlock();
    changed_.notify_all();
    std::string failure;
    for (AtomicFile& file : item.files) {
      const Outcome committed = CompleteDeferredSave(file, item.output);
      if (!committed && failure.empty()) failure = committed.failure;
    }
    if (failure.empty()) ApplyFileTimestamp(settings_, item.input, item.output);  // best effort
    done_(item, failure);
  }
}

}  // namespace kestrel
