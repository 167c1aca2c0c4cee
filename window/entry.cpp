// The module's one exported function: the program calls it when a window is
// to be opened.
#include <QApplication>

#include "model/window_entry.h"
#include "window/dialogs.h"
#include "window/main_window.h"

extern "C" __attribute__((visibility("default"))) int kestrel_window_run(kestrel::AppState* state, int mode,
                                                                         const char* argument) {
  using kestrel::WindowMode;
  static int argc = 1;
  static char name[] = "kestrel";
  static char* argv[] = {name, nullptr};
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
