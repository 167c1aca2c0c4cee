// What the preferences dialog shows: its pages and, on each, the settings a
// person changes, with the catalogue captions of the lines and of the choices.
#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "model/settings.h"

namespace kestrel::window {

// How a line edits its setting.
enum class LineKind {
  Section,      // not a setting: the start of a titled box on the page
  Check,        // a flag
  Choice,       // a drop-down of the captions below, the setting's number the row
  Number,       // a spin box within the row's range
  Real,         // a decimal spin box within the row's range
  Colour,       // a colour button with the colour chooser
  Font,         // the font name with the font chooser
  Text,         // free text
  Picture,      // a picture file with the file chooser and a small preview
  Date,         // a date and time
  Depth,        // bits per pixel of an output format: "Auto" or one of its depths
  Compression,  // an output format's compression methods
};

struct PreferenceLine {
  std::string_view caption;  // key of the catalogue's "Preferences" group
  SettingId id = SettingId::None;
  LineKind kind = LineKind::Section;
  // Choice (or the companion's drop-down): captions in number order.
  std::initializer_list<std::string_view> choices = {};
  std::string_view unit = {};  // caption after the field
  // A keyword setting chosen beside a number (its unit), from the choices.
  SettingId companion = SettingId::None;
};

struct PreferencePage {
  std::string_view caption;  // key of the catalogue's "Preferences" group
  std::span<const PreferenceLine> lines;
};

// The pages in the order of the list; General first. The Input and Output
// pages hold the lines of the edition's source and target formats.
std::span<const PreferencePage> PreferencePages();

}  // namespace kestrel::window
