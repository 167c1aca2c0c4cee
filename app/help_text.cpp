#include "app/help_text.h"

#include "platform/clock.h"
#include "model/messages.h"

namespace kestrel {
namespace {

// Lines marked as examples show a source extension in %s2%.
struct HelpLine {
  const char* text;
  bool example;
};

constexpr HelpLine kHelp[] = {
    {" ", false},
    {"Usage: %s1% -i <filename> [options]", false},
    {" ", false},
    {"  %s1% -i example.%s2%", true},
    {"  %s1% -i c:\\tmp\\example.%s2%", true},
    {"  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted", true},
    {"  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted --jpg-quality=95", true},
    {" ", false},
    {"Options:", false},
    {" ", false},
    {"  -h, -?, --help            Display this help and exit", false},
    {"  -i FILE, --input=FILE     Set input file", false},
    {"  -o PATH, --output=PATH    Set output folder", false},
    {"  -c STR, --conversion=STR  Set output extension, STR = (jpg | bmp | ...)", false},
    {" ", false},
    {"Advanced options:", false},
    {" ", false},
    {"  --width=NUM               Set output image width", false},
    {"  --height=NUM              Set output image height", false},
    {"  --filename-mask=STR       Define output filename format", false},
    {"  --flip-horizontal         Flip output image horizontally", false},
    {"  --flip-vertical           Flip output image vertically", false},
    {"  --brightness=NUM          Set output image brightness, NUM = -100..100", false},
    {"  --contrast=NUM            Set output image contrast, NUM = -100..100", false},
    {"  --gamma=NUM               Set output image gamma, NUM = 0.01..9.99", false},
    {"  --invert                  Invert output image", false},
    {"  --greyscale               Greyscale output image", false},
    {"  --profile=FILE            Set configuration file with required settings", false},
    {"    ...                     Refer documentation for all available options", false},
    {" ", false},
    {"Other options:", false},
    {" ", false},
    {"  -q, --quiet               Don't print status messages to stdout", false},
    {"  -d, --debug               Print debug information to stdout", false},
    {"  -p, --pause               Pause at exit", false},
    {"  -v, --version             Display version information and exit", false},
};

}  // namespace

std::vector<std::string> HelpLines(const std::string& programFileName, const FormatRegistry& formats) {
  std::vector<std::string> lines;
  for (const auto& line : kHelp) {
    std::string source;
    if (line.example && !formats.sourceFormats.empty()) {
      const int pick = UniformRandom(0, static_cast<int>(formats.sourceFormats.size()) - 1);
      source = formats.sourceFormats[static_cast<std::size_t>(pick)];
    }
    lines.push_back(FormatMessage(line.text, programFileName, source));
  }
  return lines;
}

}  // namespace kestrel
