#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrel {

std::string InstanceLockPath(std::string_view title) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') {
    return std::string(runtime) + "/" + std::string(title) + ".lock";
  }
  return "/tmp/" + std::string(title) + "-" + std::to_string(::getuid()) + ".lock";
}

bool InstanceLock::Acquire(std::string_view title) {
  // O_NOFOLLOW: the lock may live in /tmp, where another user could plant a link.
  UniqueFd fd(::open(InstanceLockPath(title).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.Valid()) return false;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  fd_ = std::move(fd);
  return true;
}

}  // namespace kestrel
