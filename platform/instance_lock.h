// The single-instance guard: one copy of a program version per user session.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace kestrel {

// Where the lock file goes: "<runtimeFolder>/<title>.lock" when there is a
// runtime folder, otherwise "<sharedFolder>/kestrel-<uid>/<title>.lock", in a
// folder that belongs to this user alone.
struct LockPlace {
  std::string runtimeFolder;
  std::string sharedFolder = "/tmp";
};
// The place for this session: XDG_RUNTIME_DIR when it is set, else /tmp.
LockPlace SessionLockPlace();

enum class LockState {
  Taken,          // this process holds the lock
  HeldByAnother,  // another copy holds it
  Failed,         // it could not be taken; see failure
};

struct LockResult {
  LockState state = LockState::Failed;
  std::string failure;  // what failed, with the path, when Failed
};

// Holds an exclusive flock for as long as it lives.
class InstanceLock {
 public:
  LockResult Acquire(std::string_view title, const LockPlace& place);

 private:
  UniqueFd fd_;
};

}  // namespace kestrel
