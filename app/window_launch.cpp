#include "app/window_launch.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool WaylandUsable() {
  std::string socketPath = Environment("WAYLAND_DISPLAY");
  if (socketPath.empty()) return false;
  if (socketPath.front() != '/') {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    socketPath = runtime + "/" + socketPath;
  }
  sockaddr_un address{};
  if (socketPath.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return fd.Valid() && connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// Connects the way the toolkit will, through libxcb, loaded only for this.
bool X11Usable() {
  if (Environment("DISPLAY").empty()) return false;
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  const auto connectTo = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
  const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
  const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
  bool usable = false;
  if (connectTo != nullptr && hasError != nullptr && disconnect != nullptr) {
    void* connection = connectTo(nullptr, nullptr);
    usable = connection != nullptr && hasError(connection) == 0;
    if (connection != nullptr) disconnect(connection);
  }
  dlclose(xcb);
  return usable;
}

}  // namespace

bool DisplayUsable() {
  const std::string platform = LowerCase(Environment("QT_QPA_PLATFORM"));
  if (StartsWith(platform, "offscreen") || StartsWith(platform, "minimal")) return true;
  if (StartsWith(platform, "xcb")) return X11Usable();
  if (StartsWith(platform, "wayland")) return WaylandUsable();
  return WaylandUsable() || X11Usable();
}

std::string FindWindowModule() {
  const std::string folder = FolderPart(ProgramFilePath());
  for (const std::string& candidate : {folder + "kestrel_window.so", folder + "../lib/kestrel/kestrel_window.so"}) {
    if (FileSizeQuery(candidate) > 0) return candidate;
  }
  return {};
}

int OpenWindow(AppState& state, WindowMode mode, const std::string& argument) {
  if (!DisplayUsable()) {
    WriteErrorLine(
        "kestrel: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is usable); "
        "convert with: kestrel -i FILE [options] (see --help)");
    return 1;
  }
  const std::string module = FindWindowModule();
  void* handle = module.empty() ? nullptr : dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  const auto entry = handle == nullptr ? nullptr : reinterpret_cast<WindowEntry>(dlsym(handle, kWindowEntryName));
  if (entry == nullptr) {
    const char* why = module.empty() ? "kestrel_window.so not found beside the program" : dlerror();
    WriteErrorLine(std::string("kestrel: the windowed interface cannot be loaded: ") + (why ? why : "unknown error"));
    return 1;
  }
  // The module stays loaded until the process ends: the toolkit registers
  // exit handlers of its own.
  return entry(&state, static_cast<int>(mode), argument.c_str());
}

}  // namespace kestrel
