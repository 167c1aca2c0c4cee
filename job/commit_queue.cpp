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

// The files written since the last turn are committed together: the disk
// takes one flush for all of them rather than one for each.
void CommitQueue::Run() {
  for (;;) {
    std::unique_lock hold(lock_);
    changed_.wait(hold, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) return;
    std::deque<Uncommitted> group = std::exchange(queue_, {});
    hold.unlock();
    changed_.notify_all();
    std::vector<AtomicFile*> files;
    std::vector<std::string> paths;
    for (Uncommitted& item : group) {
      for (AtomicFile& file : item.files) {
        files.push_back(&file);
        paths.push_back(item.output);
      }
    }
    const std::vector<Outcome> outcomes = CompleteDeferredSaves(files, paths);
    std::size_t next = 0;
    for (const Uncommitted& item : group) {
      std::string failure;
      for (std::size_t i = 0; i < item.files.size(); ++i, ++next) {
        if (!outcomes[next] && failure.empty()) failure = outcomes[next].failure;
      }
      if (failure.empty()) ApplyFileTimestamp(settings_, item.input, item.output);  // best effort
      done_(item, failure);
    }
  }
}

}  // namespace kestrel
