// The console: standard output lines, the terminal title, and one key press.
#pragma once

#include <string_view>

namespace kestrel {

// Writes text and a line end to standard output.
void WriteConsoleLine(std::string_view text);
// Writes one line to standard error (for start-up refusals outside the message set).
void WriteErrorLine(std::string_view text);
// Whether standard error is a terminal (where a progress line may redraw in place).
bool ErrorIsTerminal();

// Shows text as the status line at the end of standard error, replacing the
// one shown before; an empty text clears it. For terminals only.
void ShowErrorStatus(std::string_view text);

// Sets the terminal's title; does nothing when standard output is not a terminal.
void SetConsoleTitle(std::string_view title);
// Waits for one byte on standard input (raw mode on a terminal); returns at end of input.
void WaitForKeyPress();

}  // namespace kestrel
