#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace kestrel {

void WriteConsoleLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void WriteErrorLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void ShowErrorStatus(std::string_view text) {
  // Carriage return, the text, then erase whatever an older, longer line left.
  const std::string sequence = "\r" + std::string(text) + "\033[K";
  std::fwrite(sequence.data(), 1, sequence.size(), stderr);
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
  const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  char byte = 0;
  while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
  }
  if (terminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

}  // namespace kestrel
