// The format registry: what the family of converters reads and writes, and
// which of those this edition converts from and to.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/settings.h"

namespace kestrel {

struct InputFormat {
  std::string canonical;  // the extension that names the loader group
  std::string description;
};

struct OutputFormat {
  int formatId;  // FreeImage format id
  std::string extension;
  std::string description;
  std::string allowedDepths;  // "1,4,8,16,24,32"
};

struct FormatRegistry {
  std::vector<std::string> sourceFormats;  // this edition converts from ...
  std::vector<std::string> targetFormats;  // ... and to these extensions
  std::map<std::string, InputFormat, std::less<>> inputFormats;
  std::map<std::string, OutputFormat, std::less<>> outputFormats;
  std::vector<std::string> acceptedInputExtensions;
};

// The edition's tables: sources ["psd"], targets ["bmp"].
FormatRegistry MakeEditionRegistry();

void BuildInputFormats(FormatRegistry& registry);
void BuildOutputFormats(FormatRegistry& registry);
void BuildAcceptedInputExtensions(FormatRegistry& registry);

// Exact, case-sensitive row tests.
bool IsConversionTarget(const FormatRegistry& registry, std::string_view extension);
bool ListContains(const std::vector<std::string>& list, std::string_view text);

bool IsAllowedDepth(const FormatRegistry& registry, std::string_view extension, int depth);
// The allowed depths of an output format as numbers, in list order; empty without a row.
std::vector<int> AllowedDepths(const FormatRegistry& registry, std::string_view extension);
int OutputFormatId(const FormatRegistry& registry, std::string_view extension);
int SaveFlags(const Settings& settings, std::string_view extension);

// The setting that holds an output format's depth ("bmp" -> BMP-BPP), or None.
SettingId DepthSettingOf(std::string_view extension);
// The compression keywords of an output format, in the order of their numbers.
std::span<const std::string_view> CompressionKeywords(std::string_view extension);

}  // namespace kestrel
