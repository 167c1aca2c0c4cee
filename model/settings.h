// The settings record and the run record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/keywords.h"

namespace kestrel {

enum class SettingId : int {
#define SETTING(id, ...) id,
#include "model/setting_rows.inc"
#undef SETTING
  Count,
  None = -1,
};

inline constexpr std::size_t kSettingCount = static_cast<std::size_t>(SettingId::Count);

// How a setting is stored.
enum class ValueKind {
  Int,     // 32-bit signed
  Flag,    // 8-bit, 0 or 1
  Kw8,     // keyword number stored in 8 bits
  Kw32,    // keyword number stored in 32 bits
  Text,
  Colour,  // text of six hexadecimal digits
  Real,    // 32-bit float
  Date,    // seconds since 1970 in local time, 64-bit
};

// How an option or profile key reads its value.
enum class OptionClass {
  None,         // no option sets the setting
  Integer,      // lenient integer
  Real,         // decimal real with "."
  Keyword,      // keyword of the row's set
  Joined,       // text; quoted words spread over several arguments are joined
  Colour,       // a colour (#RRGGBB, R,G,B or a name), kept as six hexadecimal digits
  Switch,       // the name alone sets 1
  SwitchClear,  // the name alone sets 0
};

// The values a number or real setting may take, both ends included.
struct ValueRange {
  double low;
  double high;
};

struct SettingRow {
  SettingId id;
  std::string_view key;
  ValueKind kind;
  std::string_view defaultValue;
  KeywordSet keywordSet;  // None when the setting takes no keyword
  OptionClass option;
  std::string_view optionName;  // upper case with dashes, empty when none
  std::string_view profileKey;  // upper case with dashes, empty when none
  SettingId extraFlag;
  int extraValue;
  std::string_view debugLabel;
  std::optional<ValueRange> range = std::nullopt;  // none: any value goes
};

std::span<const SettingRow> SettingRows();
const SettingRow& RowOf(SettingId id);
// The row whose option name equals the upper-cased name, if any.
const SettingRow* FindRowByOption(std::string_view upperName);
// The row whose profile key equals the upper-cased key, if any.
const SettingRow* FindRowByProfileKey(std::string_view upperKey);

// Where a setting stands in the windowed interface's preferences file.
enum class PreferenceWidth { Full, Low8 };                 // Low8: the low 8 bits of the number read
enum class PreferenceSaved { Always, Never, WithGeometry };  // WithGeometry: while "Save Window Position" is on

struct PreferenceRow {
  SettingId id;
  std::string_view group;
  std::string_view key;
  PreferenceWidth width;
  PreferenceSaved saved;
  std::string_view missingDefault;  // empty: the setting's own default
};

// The preference rows in the order in which the file is written.
std::span<const PreferenceRow> PreferenceRows();

// One value per row; the row's kind says which member is meaningful.
struct SettingValue {
  std::int64_t number = 0;  // Int, Flag, Kw8, Kw32, Date
  float real = 0.0f;        // Real
  std::string text;         // Text, Colour
};

// The conversion settings and the preferences of the windowed interface.
class Settings {
 public:
  std::int32_t Int(SettingId id) const { return static_cast<std::int32_t>(At(id).number); }
  bool IsOn(SettingId id) const { return At(id).number != 0; }
  float Real(SettingId id) const { return At(id).real; }
  std::int64_t Date(SettingId id) const { return At(id).number; }
  const std::string& Text(SettingId id) const { return At(id).text; }

  // Stores a number, kept to the width of the row's kind (8 bits for flags
  // and small keyword fields, 32 bits for integers, 64 for dates).
  void SetNumber(SettingId id, std::int64_t value);
  void SetReal(SettingId id, float value) { At(id).real = value; }
  void SetText(SettingId id, std::string value) { At(id).text = std::move(value); }

 private:
  const SettingValue& At(SettingId id) const { return values_[static_cast<std::size_t>(id)]; }
  SettingValue& At(SettingId id) { return values_[static_cast<std::size_t>(id)]; }

  std::array<SettingValue, kSettingCount> values_{};
};

// True when the setting's row has no range or its value lies in it. Reals
// compare as floats with the floats of the ends, so that 0.01 itself is in
// 0.01..9.99 and NaN is in no range.
bool WithinRange(const Settings& settings, SettingId id);

// Fills every setting with its default. With aspectOff, KEEP-ASPECT-RATIO
// starts at 0 (the command line), otherwise at 1. Dates default to `now`;
// the two windowed "Format" fields to the edition's first source and target.
void SetDefaultSettings(Settings& settings, bool aspectOff, std::int64_t now,
                        std::string_view firstSource, std::string_view firstTarget);

// The record of the current run.
struct RunState {
  std::string baseFolder;        // folder of the program file, ending in "/"
  std::string input;             // INPUT: the input path from the command line
  std::string currentInputPath;  // the file being converted
  // The name a document read from standard input goes by ("stdin.psd"): its
  // checks, name tokens and messages use it. Empty for a file.
  std::string inputLabel;
  std::string relativeSubfolder;
  std::string outputPath;
  std::string output;            // OUTPUT: the output folder, completed to end in "/"
  std::string sourceExtension;
  std::string conversion;        // CONVERSION: the target extension
  int loadedDepth = 0;
  int outputFormatCode = 0;
  int outputDepth = 0;
  int saveFlags = 0;
  bool automaticDepth = false;
  int randomNumber = 1;
  int sequenceNumber = 1;
  int imageWidth = 0;
  int imageHeight = 0;
  bool inputGiven = false;       // INPUT-GIVEN
  std::string runMode;           // RUN-MODE: "DEBUG", "T" or empty
  std::string listFileName = "untitled.qvx";
  // One layer or group drawn alone (--layer, --each-layer): its record in the
  // file (-1: the whole picture), its name for %layer%, and with layerCrop
  // the part of the canvas kept (its bounds).
  int layerIndex = -1;
  std::string layerName;
  bool layerCrop = false;
  int cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0;
};

// Colour text to packed red + green*256 + blue*65536 + alpha*16777216.
// Text that is not exactly six characters gives black.
std::uint32_t PackColourText(std::string_view text, int alpha = 0);

}  // namespace kestrel
