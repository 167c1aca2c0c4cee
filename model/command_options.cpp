#include "model/command_options.h"

namespace kestrel {
namespace {

using enum CommandOption;
using enum ValueShape;

constexpr CommandOptionRow kRows[] = {
    {Help, {"-H", "-?"}, "--HELP", None, true},
    {Version, {"-V", ""}, "--VERSION", None, true},
    {Input, {"-I", ""}, "--INPUT", PsdFile, false},
    {Output, {"-O", ""}, "--OUTPUT", Folder, false},
    {Conversion, {"-C", ""}, "--CONVERSION", Extension, false},
    {Profile, {"", ""}, "--PROFILE", File, false},
    {Debug, {"-D", ""}, "--DEBUG", None, false},
    {Quiet, {"-Q", ""}, "--QUIET", None, false},
    {Pause, {"-P", ""}, "--PAUSE", None, false},
    {InputFolder, {"", ""}, "--INPUT-FOLDER", Folder, false},
    {InputList, {"", ""}, "--INPUT-LIST", File, false},
    {InputList0, {"", ""}, "--INPUT-LIST0", File, false},
    {Jobs, {"", ""}, "--JOBS", Number, false},
    {Update, {"", ""}, "--UPDATE", None, false},
    {Thumbnail, {"", ""}, "--THUMBNAIL", Number, false},
    {ThumbnailOut, {"", ""}, "--THUMBNAIL-OUT", File, false},
    {ConvertInWindow, {"", ""}, "--CONVERT-IN-WINDOW", None, false},
    {Stdout, {"", ""}, "--STDOUT", None, false},
    {Info, {"", ""}, "--INFO", Form, false},
    {Layer, {"", ""}, "--LAYER", Selector, false},
    {LayerCrop, {"", ""}, "--LAYER-CROP", None, false},
    {EachLayer, {"", ""}, "--EACH-LAYER", None, false},
};

// The row among those read anywhere (or only first) that the name selects; an
// empty name selects none, though most rows have an empty short name.
const CommandOptionRow* FindRow(std::string_view upperName, bool firstArgumentOnly) {
  if (upperName.empty()) return nullptr;
  for (const auto& row : kRows) {
    if (row.firstArgumentOnly != firstArgumentOnly) continue;
    if (row.longName == upperName) return &row;
    for (const auto shortName : row.shortNames) {
      if (shortName == upperName) return &row;
    }
  }
  return nullptr;
}

}  // namespace

std::span<const CommandOptionRow> CommandOptionRows() { return kRows; }

const CommandOptionRow* FindCommandOption(std::string_view upperName) { return FindRow(upperName, false); }

const CommandOptionRow* FindFirstArgumentOption(std::string_view upperName) { return FindRow(upperName, true); }

std::string_view Placeholder(ValueShape shape) {
  switch (shape) {
    case None: return "";
    case PsdFile:
    case File: return "FILE";
    case Folder: return "PATH";
    case Number: return "NUM";
    case Extension: return "STR";
    case Form: return "FORM";
    case Selector: return "SEL";
  }
  return "";
}

bool IsSwitch(const SettingRow& row) {
  return row.option == OptionClass::Switch || row.option == OptionClass::SwitchClear;
}

std::string_view Placeholder(const SettingRow& row) {
  if (IsSwitch(row)) return "";
  if (row.kind == ValueKind::Colour) return "COLOR";
  switch (row.option) {
    case OptionClass::Integer:
    case OptionClass::Real: return "NUM";
    case OptionClass::Keyword: return "WORD";
    default: return "STR";
  }
}

}  // namespace kestrel
