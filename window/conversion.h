// The conversion started from the main window, with its progress window.
#pragma once

#include <cstdint>
#include <string>

#include "window/session.h"

namespace kestrel::window {

// Takes input, folder and format from the window, checks them (a warning box
// for the first failure), derives the save parameters and runs the job with
// the progress window. Returns when the progress window has closed.
void StartWindowedConversion(Session& session);

// Runs the job on a worker thread while a progress window polls it every
// 15 ms; its close box asks whether to break the conversion.
void RunProgressWindow(Session& session);

// "hh:mm:ss", preceded by "Nd:" from one day on; "00:00:00" below a second.
std::string FormatDuration(std::int64_t ms);

// The first and last (max - 3) / 2 characters around "..." when text is
// longer than max characters.
std::string ShortenPath(const std::string& text, int max);

}  // namespace kestrel::window
