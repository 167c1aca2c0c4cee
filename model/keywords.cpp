#include "model/keywords.h"

#include <FreeImage.h>

#include <algorithm>

#include "model/formats.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::size_t kMostKeywords = 9;

// One keyword set: its keywords in number order, each with the library value
// it stands for where it has one. Report-only sets name values in the debug
// report and the preferences dialog; no option or profile key reads them.
struct SetRow {
  KeywordSet set;
  Keyword keywords[kMostKeywords];
  bool reportOnly = false;
};
constexpr bool kReportOnly = true;

constexpr SetRow kSets[] = {
    {KeywordSet::DdsLoadAs, {{"AUTO"}, {"BGRA"}, {"RGBA"}}},
    {KeywordSet::RawLoadAs, {{"AUTO"}, {"8"}, {"16"}, {"24"}, {"48HS"}, {"48"}}},
    {KeywordSet::FrameLoading, {{"ALL"}, {"FIRST"}, {"MIDDLE"}, {"LAST"}, {"RANDOM"}}},
    {KeywordSet::RawToneMapping, {{"NONE"}, {"LINEAR"}, {"AL"}, {"DRR"}, {"GD"}}},
    {KeywordSet::Compression, {}},  // the methods of the output format rows
    {KeywordSet::ColourTable, {{"AUTO"}, {"EXACT"}}},
    {KeywordSet::BmpHeader, {{"BASIC"}, {"V5"}}},
    {KeywordSet::ColourMode, {{"RGB"}, {"CMYK"}, {"LAB"}}},
    {KeywordSet::JpgChroma,
     {{"NONE", JPEG_SUBSAMPLING_444}, {"LOW", JPEG_SUBSAMPLING_422}, {"MEDIUM", JPEG_SUBSAMPLING_420},
      {"HIGH", JPEG_SUBSAMPLING_411}}},
    {KeywordSet::JpgSaveAs,
     {{"STANDARD"}, {"SIMPLE", JPEG_BASELINE}, {"OPTIMIZED", JPEG_OPTIMIZE}, {"PROGRESSIVE", JPEG_PROGRESSIVE}}},
    {KeywordSet::RotationType, {{"SIMPLE"}, {"ADVANCED"}}},
    {KeywordSet::SizeUnit, {{"PIXELS"}, {"PERCENT"}}},
    {KeywordSet::ResizeType, {{"ALLIMAGES"}, {"LARGEIMAGES"}}},
    {KeywordSet::ResizeFilter,
     {{"BOX", FILTER_BOX}, {"BILINEAR", FILTER_BILINEAR}, {"BSPLINE", FILTER_BSPLINE}, {"BICUBIC", FILTER_BICUBIC},
      {"CATMULLROM", FILTER_CATMULLROM}, {"LANCZOS", FILTER_LANCZOS3}}},
    // The keyword order differs from the library's numbering: BAYER16 is 6 there.
    {KeywordSet::Dither,
     {{"FS", FID_FS}, {"BAYER4", FID_BAYER4x4}, {"BAYER8", FID_BAYER8x8}, {"BAYER16", FID_BAYER16x16},
      {"CLUSTER6", FID_CLUSTER6x6}, {"CLUSTER8", FID_CLUSTER8x8}, {"CLUSTER16", FID_CLUSTER16x16}}},
    {KeywordSet::FrameKind, {{"NONE"}, {"SOLID"}}, kReportOnly},
    {KeywordSet::WatermarkKind, {{"NONE"}, {"TEXT"}, {"IMAGE"}}, kReportOnly},
    {KeywordSet::FontStyle, {{"REGULAR"}, {"BOLD"}, {"ITALIC"}, {"BOLDITALIC"}}},
    // "STRIKETHROUGHT" is the keyword as users have always written it.
    {KeywordSet::FontEffect, {{"NONE"}, {"UNDERLINE"}, {"STRIKETHROUGHT"}}},
    {KeywordSet::TextAlignment, {{"LEFT"}, {"CENTER"}, {"RIGHT"}}},
    {KeywordSet::Boundary, {{"IMAGE"}, {"FRAME"}}},
    {KeywordSet::Position,
     {{"TOPLEFT"}, {"TOPCENTER"}, {"TOPRIGHT"}, {"MIDDLELEFT"}, {"MIDDLECENTER"}, {"MIDDLERIGHT"}, {"BOTTOMLEFT"},
      {"BOTTOMCENTER"}, {"BOTTOMRIGHT"}}},
    {KeywordSet::WatermarkSize, {{"FIXED"}}},
    {KeywordSet::FileTimestamp, {{"CURRENT"}, {"ORIGINAL"}, {"CUSTOM"}}},
};

// One row a set, in the order of the names, so that a set's row is found by its name.
constexpr bool SetsFollowTheirNames() {
  for (std::size_t i = 0; i < std::size(kSets); ++i) {
    if (static_cast<std::size_t>(kSets[i].set) != i) return false;
  }
  return std::size(kSets) == static_cast<std::size_t>(KeywordSet::FileTimestamp) + 1;
}
static_assert(SetsFollowTheirNames());

// The keywords of a row: its list up to the first empty place.
std::span<const Keyword> KeywordsIn(const SetRow& row) {
  std::size_t count = 0;
  while (count < kMostKeywords && !row.keywords[count].text.empty()) ++count;
  return {row.keywords, count};
}

// The lists a set reads, in order: one, or for Compression one per output
// format. None, and a report-only set when it is not for the report, read none.
std::vector<std::span<const Keyword>> ListsOf(KeywordSet set, bool forReport) {
  if (set == KeywordSet::None) return {};
  const SetRow& row = kSets[static_cast<std::size_t>(set)];
  if (row.reportOnly && !forReport) return {};
  if (set != KeywordSet::Compression) return {KeywordsIn(row)};
  std::vector<std::span<const Keyword>> lists;
  for (const OutputFormat& format : OutputFormats()) lists.push_back(format.compressions);
  return lists;
}

}  // namespace

const Keyword* KeywordAt(std::span<const Keyword> keywords, int value) {
  return value >= 0 && static_cast<std::size_t>(value) < keywords.size() ? &keywords[static_cast<std::size_t>(value)]
                                                                         : nullptr;
}

int KeywordLookup(std::string_view text, KeywordSet set) {
  const std::string upper = AsciiUpper(text);
  for (const auto& list : ListsOf(set, false)) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].text == upper) return static_cast<int>(i);
    }
  }
  return 0;
}

std::string_view KeywordText(KeywordSet set, int value) {
  for (const auto& list : ListsOf(set, true)) {
    if (const Keyword* keyword = KeywordAt(list, value)) return keyword->text;
  }
  return {};
}

std::string_view KeywordTextOf(const SettingRow& row, int value) {
  if (row.keywordSet != KeywordSet::Compression) return KeywordText(row.keywordSet, value);
  for (const OutputFormat& format : OutputFormats()) {
    if (format.compression != row.id) continue;
    const Keyword* keyword = KeywordAt(format.compressions, value);
    return keyword ? keyword->text : std::string_view();
  }
  return {};
}

std::vector<std::string_view> KeywordsOf(KeywordSet set) {
  std::vector<std::string_view> words;
  for (const auto& list : ListsOf(set, false)) {
    for (const Keyword& keyword : list) {
      if (std::find(words.begin(), words.end(), keyword.text) == words.end()) words.push_back(keyword.text);
    }
  }
  return words;
}

int KeywordLibraryValue(KeywordSet set, int value, int fallback) {
  for (const auto& list : ListsOf(set, true)) {
    if (const Keyword* keyword = KeywordAt(list, value)) return keyword->library;
  }
  return fallback;
}

}  // namespace kestrel
