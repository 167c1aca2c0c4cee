// The single-instance guard: one copy of a program version per user session.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace kestrel {

// The lock file for a title: "$XDG_RUNTIME_DIR/<title>.lock", or
// "/tmp/<title>-<uid>.lock" when XDG_RUNTIME_DIR is unset.
std::string InstanceLockPath(std::string_view title);

// Holds an exclusive flock for as long as it lives.
class InstanceLock {
 public:
  // Returns false when another process holds the lock or it cannot be taken.
  bool Acquire(std::string_view title);

 private:
  UniqueFd fd_;
};

}  // namespace kestrel
