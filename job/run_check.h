// The check both faces make before a conversion starts: the first reason the
// run cannot start, or the completed output folder, the save parameters and
// the watermark font. It reads the state and changes nothing; the face prints
// or shows the refusal and puts an accepted run into the state.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/app_state.h"

namespace kestrel {

// The command line checks every value it can be given and reports what it
// checks; the window checks what its fields can get wrong, and no ranges.
enum class Face { CommandLine, Window };

// Why a run cannot start, in the words of both faces.
struct RunRefusal {
  std::string line;          // the command line's line, "Error: Invalid width value"
  std::string_view message;  // the window's "Msg" catalogue key, "Invalid width"
  std::string detail;        // what the window's message names (its %s1%), or empty
};

struct SaveParameters {
  int formatId = 0;
  int depth = 0;  // 0 until the automatic depth is resolved for each file
  int flags = 0;
  bool automaticDepth = false;
};

struct CheckedRun {
  std::optional<RunRefusal> refusal;
  std::string input;       // the command line's input file
  std::string output;      // the output folder, completed to end in "/"
  std::string conversion;  // the target extension
  SaveParameters save;
  std::shared_ptr<WatermarkFont> font;  // opened when a text watermark is drawn
};

// Receives the lines of the debug report; empty when nothing is reported.
using ReportSink = std::function<void(std::string_view line)>;

// Checks the run that the state describes: for the command line its input,
// output folder and conversion; for the window its input list, output folder
// and conversion; then the settings.
CheckedRun CheckRun(const AppState& state, Face face, const ReportSink& report = {});

// Puts an accepted run into the run state for the job.
void ApplyCheckedRun(AppState& state, const CheckedRun& run);

// The save parameters of a conversion from the settings.
SaveParameters DeriveSaveParameters(const AppState& state, std::string_view conversion);

}  // namespace kestrel
