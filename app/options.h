// The argument grammar and the option table of the command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "job/batch.h"
#include "job/layer_choice.h"
#include "model/app_state.h"

namespace kestrel {

inline constexpr std::string_view kIncorrectParameters = "Incorrect number of parameters";
inline constexpr std::string_view kInvalidProfileFile = "Invalid profile file";
inline constexpr std::string_view kInvalidJobs = "Invalid jobs value";
inline constexpr std::string_view kInvalidThumbnailSize = "Invalid thumbnail size";
inline constexpr std::string_view kDefaultLayerMask = "%filename%-%layer%.%ext%";
inline constexpr std::string_view kInvalidInfoForm = "Invalid info form (--info or --info=json)";
inline constexpr std::string_view kThumbnailNeeds = "A thumbnail needs --thumbnail=SIZE, one -i FILE and --thumbnail-out=FILE";

enum class InfoForm { None, Text, Json };

// The driver's own switches, which no setting stores.
struct DriverFlags {
  bool quiet = false;
  bool pause = false;
  std::vector<std::string> bare;  // arguments that are neither options nor their values
  // A batch run: the inputs in the order given (an -i file among them), the
  // files converted at once (0: one per processor) and whether up-to-date
  // outputs are skipped. No folder or list given: the single-file run.
  std::vector<BatchSource> sources;
  bool batch = false;
  int jobs = 0;
  bool update = false;
  // A thumbnail run: the longest edge asked for (0: none) and the PNG to write.
  int thumbnailSize = 0;
  std::string thumbnailOut;
  bool convertInWindow = false;  // the window opens with the bare files and converts them
  // In a pipeline: the one picture goes to standard output (--stdout); the
  // facts of each input are printed instead of converting it (--info).
  bool toStdout = false;
  InfoForm info = InfoForm::None;
  // One layer or group alone (--layer), cropped to its bounds (--layer-crop),
  // or each top-level layer or group to its own file (--each-layer); the
  // layers to draw once the file's facts have been read.
  std::string layer;
  bool layerCrop = false;
  bool eachLayer = false;
  std::vector<LayerPick> picks;
};

// The arguments without the program name; a position past the end reads as "".
class ArgumentList {
 public:
  explicit ArgumentList(std::vector<std::string> args) : args_(std::move(args)) {}
  int Count() const { return static_cast<int>(args_.size()); }
  const std::string& At(int position) const;

 private:
  std::vector<std::string> args_;
};

// Upper-cased option name of an argument: "" unless it begins with "-"; for
// "--" names the part before the first "=".
std::string OptionName(std::string_view argument);
// The value of an argument: after the first "=" of a "--" option, else the whole trimmed argument.
std::string OptionValue(std::string_view argument);

// Handles the option named at position; may advance position past the
// arguments it takes as values. Sets error and stores nothing on a bad value.
void HandleOption(AppState& state, const ArgumentList& args, int& position, const std::string& name,
                  std::string& error, DriverFlags& flags);

// Converts a value by the row's class and stores it, with the row's extra flag.
void ApplySettingValue(Settings& settings, const struct SettingRow& row, std::string_view value);

// Removes every double quote at the beginning and at the end.
std::string StripOuterQuotes(std::string_view value);

}  // namespace kestrel
