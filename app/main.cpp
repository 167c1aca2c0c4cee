// Start-up: the single-instance guard, then the command-line driver.
#include <FreeImage.h>

#include <csignal>

#include <string>
#include <vector>

#include "app/driver.h"
#include "model/program.h"
#include "app/window_launch.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/leak_suppressions.h"
#include "platform/paths.h"
#include "platform/process_end.h"
#include "platform/standard_streams.h"

namespace {

// The program's own file name without folder and extension, for the help text.
std::string ProgramFileName(const char* argv0) {
  std::string path = kestrel::ProgramFilePath();
  if (path.empty() && argv0 != nullptr) path = argv0;
  std::string name = kestrel::FileNamePart(path);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrel;
  // Before anything else is opened: a closed standard stream would hand its number to a file.
  if (!OpenMissingStandardStreams()) return kExitFailure;
  FreeImage_Initialise(FALSE);
  // A write beyond the file-size limit or into a closed pipe must fail the
  // write, not kill the process before it can clean up its temporary file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  InstanceLock lock;
  if (NeedsInstanceLock(arguments)) {
    const LockResult taken = lock.Acquire(TitleText(), SessionLockPlace());
    if (taken.state == LockState::HeldByAnother) {
      WriteErrorLine("kestrel: another copy of " + TitleText() + " is running");
      return kExitFailure;
    }
    if (taken.state == LockState::Failed) {
      WriteErrorLine("kestrel: cannot take the lock that keeps a second copy from running: " + taken.failure);
      return kExitFailure;
    }
  }

  AppState state;
  const DriverResult result = RunDriver(state, arguments, ProgramFileName(argc > 0 ? argv[0] : nullptr));

  if (result.window != WindowMode::None) {
    // -T takes its picture's file name from the second argument.
    const std::string argument =
        result.window == WindowMode::Demonstration && arguments.size() > 1 ? OptionValue(arguments[1]) : std::string();
    return OpenWindow(state, result.window, argument);
  }
  EndProcess(result.exitCode);
}
