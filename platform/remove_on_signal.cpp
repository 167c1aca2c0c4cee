#include "platform/remove_on_signal.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

namespace kestrel {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSlots = 16;  // files being saved at once (a batch worker holds some until their commit)

enum SlotState : int { kFree, kFilling, kArmed };

// The handler reads the slots without locks: a slot's name and folder are
// written before it is armed, and it is freed before they change again.
struct Slot {
  std::atomic<int> state{kFree};
  int folderFd = -1;
  char name[NAME_MAX + 1] = {};
};

Slot slots[kSlots];
struct sigaction previous[NSIG];
bool installed[NSIG];
std::mutex installMutex;
int guards = 0;

void RemoveAndPassOn(int signal) {
  const int savedErrno = errno;
  for (Slot& slot : slots) {
    if (slot.state.load() == kArmed) ::unlinkat(slot.folderFd, slot.name, 0);
  }
  // The signal's usual effect: the default action, once this handler returns.
  ::sigaction(signal, &previous[signal], nullptr);
  ::raise(signal);
  errno = savedErrno;
}

void Install() {
  for (int signal : kSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveAndPassOn;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    installed[signal] = ::sigaction(signal, &action, &previous[signal]) == 0;
  }
}

void Uninstall() {
  for (int signal : kSignals) {
    if (installed[signal]) ::sigaction(signal, &previous[signal], nullptr);
    installed[signal] = false;
  }
}

}  // namespace

RemoveOnSignal::RemoveOnSignal(int folderFd, const std::string& name) {
  if (name.size() > NAME_MAX) return;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (slots[i].state.compare_exchange_strong(expected, kFilling)) {
      slot_ = i;
      break;
    }
  }
  if (slot_ < 0) return;
  {
    std::lock_guard lock(installMutex);
    if (guards++ == 0) Install();
  }
  Slot& slot = slots[slot_];
  slot.folderFd = folderFd;
  std::memcpy(slot.name, name.c_str(), name.size() + 1);
  slot.state.store(kArmed);
}

RemoveOnSignal::~RemoveOnSignal() {
  if (slot_ < 0) return;
  slots[slot_].state.store(kFree);
  std::lock_guard lock(installMutex);
  if (--guards == 0) Uninstall();
}

}  // namespace kestrel
