// The command-line options that are not settings: what the run reads, where it
// writes, how it talks. Parsing, the help text, the bash completion and the
// documentation checks all read these rows; the settings have their own table.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "model/settings.h"

namespace kestrel {

enum class CommandOption {
  Help, Version, Input, Output, Conversion, Profile, Debug, Quiet, Pause,
  InputFolder, InputList, InputList0, Jobs, Update, Thumbnail, ThumbnailOut, ConvertInWindow,
  Stdout, Info, Layer, LayerCrop, EachLayer,
};

// What an option's value names, for the help's placeholder and the completion.
enum class ValueShape { None, PsdFile, File, Folder, Number, Extension, Form, Selector };

struct CommandOptionRow {
  CommandOption id;
  std::array<std::string_view, 2> shortNames;  // upper case, as matched; empty when none
  std::string_view longName;                   // upper case with dashes
  ValueShape value;
  // Help and version are read only as the first argument; met later they are skipped.
  bool firstArgumentOnly;
};

std::span<const CommandOptionRow> CommandOptionRows();
// The row an upper-cased option name selects among the options read anywhere
// on the line, if any.
const CommandOptionRow* FindCommandOption(std::string_view upperName);
// The row an upper-cased option name selects among the options read only as
// the first argument (help and version), if any.
const CommandOptionRow* FindFirstArgumentOption(std::string_view upperName);

// The help's placeholder for a value: FILE, PATH, NUM, STR...; empty for a switch.
std::string_view Placeholder(ValueShape shape);
std::string_view Placeholder(const SettingRow& row);
bool IsSwitch(const SettingRow& row);

}  // namespace kestrel
