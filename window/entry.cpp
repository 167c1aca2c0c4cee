// The module's one exported function: the program calls it when a window is
// to be opened.
#include <QApplication>

#include "model/window_entry.h"
#include "platform/sandbox.h"
#include "window/dialogs.h"
#include "window/main_window.h"

extern "C" __attribute__((visibility("default"))) int kestrel_window_run(kestrel::AppState* state, int mode,
                                                                         const char* argument) {
  using kestrel::WindowMode;
  static int argc = 1;
  static char name[] = "kestrel";
  static char* argv[] = {name, nullptr};
  // The decoders are forked from a zygote made now, before the toolkit starts
  // its threads: a child forked beside them could inherit a lock one of them
  // holds (in the allocator, the font cache, the event loop) and hang on it.
  const kestrel::SandboxZygoteHold zygote;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  QApplication::setOrganizationName(QStringLiteral("Tessaline"));
  switch (static_cast<WindowMode>(mode)) {
    case WindowMode::Maintenance:
      return kestrel::window::RunMaintenanceWindow(*state);
    case WindowMode::Demonstration:
      return kestrel::window::RunDemonstration(*state, argument != nullptr ? argument : "");
    default:
      return kestrel::window::RunWindowedMode(*state);
  }
}
