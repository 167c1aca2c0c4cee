#include "platform/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace kestrel {
namespace {

// The signals that end the process at the prompt: each puts the terminal back first.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

termios g_savedTerminal{};
struct sigaction g_previous[kEndingSignalCount];

// Restores the terminal, then lets the signal do what it did before (end the
// process, or whatever handler was there), once this handler has returned.
void RestoreTerminalAndResend(int signal) {
  const int savedErrno = errno;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  for (int i = 0; i < kEndingSignalCount; ++i) {
    if (kEndingSignals[i] == signal) ::sigaction(signal, &g_previous[i], nullptr);
  }
  ::raise(signal);
  errno = savedErrno;
}

// While it lives, the ending signals restore the terminal saved in g_savedTerminal.
class TerminalGuard {
 public:
  TerminalGuard() {
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndResend;
    sigemptyset(&restore.sa_mask);
    for (const int signal : kEndingSignals) sigaddset(&restore.sa_mask, signal);
    for (int i = 0; i < kEndingSignalCount; ++i) ::sigaction(kEndingSignals[i], &restore, &g_previous[i]);
  }
  ~TerminalGuard() {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    for (int i = 0; i < kEndingSignalCount; ++i) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
  }
  TerminalGuard(const TerminalGuard&) = delete;
  TerminalGuard& operator=(const TerminalGuard&) = delete;
};

void WaitForByte() {
  char byte = 0;
  while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

void WriteConsoleLine(std::string_view text) {
  const std::string line = std::string(text) + '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// The text and its line end go in one write: batch workers share standard
// error, and a pipe keeps a write of up to PIPE_BUF bytes whole, so two
// workers' lines never run together.
void WriteErrorLine(std::string_view text) {
  std::fflush(stderr);
  const std::string line = std::string(text) + '\n';
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void ShowErrorStatus(std::string_view text) {
  // Carriage return, the text, then erase whatever an older, longer line left.
  std::fputc('\r', stderr);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputs("\033[K", stderr);
  std::fflush(stderr);
}

void SetConsoleTitle(std::string_view title) {
  if (!::isatty(STDOUT_FILENO)) return;
  const std::string sequence = "\033]0;" + std::string(title) + "\007";
  std::fwrite(sequence.data(), 1, sequence.size(), stdout);
  std::fflush(stdout);
}

void WaitForKeyPress() {
  std::fflush(stdout);
  termios saved {};
  if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0) {
    WaitForByte();
    return;
  }
  g_savedTerminal = saved;
  const TerminalGuard guard;
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  WaitForByte();
}

}  // namespace kestrel
