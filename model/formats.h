// The formats: what the family of converters reads and writes, one row a
// format, and which of those this edition converts from and to.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/keywords.h"
#include "model/settings.h"

namespace kestrel {

struct InputFormat {
  std::string_view canonical;  // the extension that names the loader group
  std::initializer_list<std::string_view> extensions;
  std::string_view description;
};

// One output format: how it is saved, which settings shape it and how the
// debug report shows it. Formats that only have settings (dds, pcx, psd) have
// no FreeImage writer and no depths.
struct OutputFormat {
  std::string_view extension;
  int formatId = -1;  // FreeImage format id; FIF_UNKNOWN (-1) without a writer
  std::string_view description = {};
  std::initializer_list<int> depths = {};  // allowed bits per pixel, smallest first
  SettingId depthSetting = SettingId::None;
  std::initializer_list<SettingId> reportLines = {};  // the debug report's lines, depth first
  SettingId quality = SettingId::None;           // a setting whose range the run checks
  SettingId compression = SettingId::None;
  std::span<const Keyword> compressions = {};    // its keywords by number, each with its save flag
  int (*otherFlags)(const Settings&) = nullptr;  // save flags besides the compression
  SettingId colourTable = SettingId::None;       // EXACT writes an 8-bit file with its own colour table
  bool sixteenBitsAs555 = false;                 // 16 bits are 5-5-5, not 5-6-5
  bool eightBitsByConversion = false;            // 8 bits by plain conversion, not by quantizing
};

// What this edition converts, read from the tables once.
struct FormatRegistry {
  std::vector<std::string> sourceFormats;  // this edition converts from ...
  std::vector<std::string> targetFormats;  // ... and to these extensions
  std::vector<std::string> acceptedInputExtensions;  // the extensions of the sources' loader groups
};

// The edition's tables: sources ["psd"], targets ["bmp"].
FormatRegistry MakeEditionRegistry();

std::span<const InputFormat> InputFormats();
std::span<const OutputFormat> OutputFormats();
// The row of an extension (exact, case-sensitive), or null.
const InputFormat* FindInputFormat(std::string_view extension);
const OutputFormat* FindOutputFormat(std::string_view extension);

// Exact, case-sensitive row tests.
bool IsConversionTarget(const FormatRegistry& registry, std::string_view extension);
bool ListContains(const std::vector<std::string>& list, std::string_view text);

// Depth 0 (automatic) is always allowed.
bool IsAllowedDepth(std::string_view extension, int depth);
// Empty without a row.
std::span<const int> AllowedDepths(std::string_view extension);
int OutputFormatId(std::string_view extension);
int SaveFlags(const Settings& settings, std::string_view extension);
// The setting that holds an output format's depth ("bmp" -> BMP-BPP), or None.
SettingId DepthSettingOf(std::string_view extension);
// Whether an image of this format and depth goes to the exact colour table writer.
bool WritesExactColourTable(const Settings& settings, std::string_view extension, int depth);

}  // namespace kestrel
