// Removal of a named temporary file when the process is ended by a signal.
#pragma once

#include <string>

namespace kestrel {

// While a guard lives, SIGINT, SIGTERM, SIGHUP or SIGQUIT removes the file
// `name` in the folder `folderFd` before the signal ends the process as it
// would have. Signals the process ignores or handles itself are left alone:
// they do not end it, and the owner of the file cleans up as usual.
class RemoveOnSignal {
 public:
  RemoveOnSignal(int folderFd, const std::string& name);
  ~RemoveOnSignal();
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

 private:
  int slot_ = -1;  // -1: no free slot; the file is then not guarded
};

}  // namespace kestrel
