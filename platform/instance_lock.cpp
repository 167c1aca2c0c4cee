#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace kestrel {
namespace {

std::string ErrorText(int error) { return std::generic_category().message(error); }

LockResult Failure(std::string what) { return LockResult{LockState::Failed, std::move(what)}; }

// The user's own folder under the shared one, made when missing. A folder of
// that name that is a link, belongs to someone else or lets others in is
// refused: whoever can write there could take or redirect the lock.
UniqueFd OpenPrivateFolder(const std::string& path, std::string& failure) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    failure = "cannot create " + path + ": " + ErrorText(errno);
    return {};
  }
  UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!folder.Valid() || ::fstat(folder.Get(), &st) != 0) {
    failure = "cannot open " + path + ": " + ErrorText(errno);
    return {};
  }
  if (st.st_uid != ::geteuid()) {
    failure = path + " belongs to another user";
    return {};
  }
  if ((st.st_mode & 077) != 0) {
    failure = path + " is open to other users";
    return {};
  }
  return folder;
}

}  // namespace

LockPlace SessionLockPlace() {
  LockPlace place;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr) place.runtimeFolder = runtime;
  return place;
}

LockResult InstanceLock::Acquire(std::string_view title, const LockPlace& place) {
  std::string folderPath = place.runtimeFolder;
  std::string failure;
  UniqueFd folder;
  if (!folderPath.empty()) {
    folder = UniqueFd(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid()) return Failure("cannot open " + folderPath + ": " + ErrorText(errno));
  } else {
    folderPath = place.sharedFolder + "/kestrel-" + std::to_string(::geteuid());
    folder = OpenPrivateFolder(folderPath, failure);
    if (!folder.Valid()) return Failure(failure);
  }
  const std::string name = std::string(title) + ".lock";
  const std::string path = folderPath + "/" + name;
  // O_NOFOLLOW: a link in place of the lock file is refused, not followed.
  UniqueFd fd(::openat(folder.Get(), name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (!fd.Valid()) return Failure("cannot open " + path + ": " + ErrorText(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return Failure(path + " is not a regular file");
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return LockResult{LockState::HeldByAnother, {}};
    return Failure("cannot lock " + path + ": " + ErrorText(errno));
  }
  fd_ = std::move(fd);
  return LockResult{LockState::Taken, {}};
}

}  // namespace kestrel
