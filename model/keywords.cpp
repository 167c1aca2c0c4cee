#include "model/keywords.h"

#include <span>

#include "platform/text.h"

namespace kestrel {
namespace {

struct Keyword {
  std::string_view text;
  int number;
};

constexpr Keyword kSet0[] = {{"AUTO", 0}, {"BGRA", 1}, {"RGBA", 2}};
constexpr Keyword kSet1[] = {{"AUTO", 0}, {"8", 1}, {"16", 2}, {"24", 3}, {"48HS", 4}, {"48", 5}};
constexpr Keyword kSet2[] = {{"ALL", 0}, {"FIRST", 1}, {"MIDDLE", 2}, {"LAST", 3}, {"RANDOM", 4}};
constexpr Keyword kSet3[] = {{"NONE", 0}, {"LINEAR", 1}, {"AL", 2}, {"DRR", 3}, {"GD", 4}};
// One list for every format's compression; each format numbers its own methods from 1.
constexpr Keyword kSet4[] = {
    {"NONE", 0},      {"RLE", 1},          {"ZIP", 1},       {"PIZ", 2},       {"PXR24", 3},
    {"B44", 4},       {"ZLIB1", 1},        {"ZLIB6", 2},     {"ZLIB9", 3},     {"CCITTFAX3", 1},
    {"CCITTFAX4", 2}, {"PACKBITS", 3},     {"DEFLATE", 4},   {"ADOBEDEFLATE", 5}, {"LZW", 6},
    {"JPEG", 7},      {"LOGLUV", 8}};
constexpr Keyword kSet5[] = {{"AUTO", 0}, {"EXACT", 1}};
constexpr Keyword kSet6[] = {{"RGB", 0}, {"CMYK", 1}, {"LAB", 2}};
constexpr Keyword kSet7[] = {{"NONE", 0}, {"LOW", 1}, {"MEDIUM", 2}, {"HIGH", 3}};
constexpr Keyword kSet8[] = {{"STANDARD", 0}, {"SIMPLE", 1}, {"OPTIMIZED", 2}, {"PROGRESSIVE", 3}};
constexpr Keyword kSet9[] = {{"SIMPLE", 0}, {"ADVANCED", 1}};
constexpr Keyword kSet10[] = {{"PIXELS", 0}, {"PERCENT", 1}};
constexpr Keyword kSet11[] = {{"ALLIMAGES", 0}, {"LARGEIMAGES", 1}};
constexpr Keyword kSet12[] = {{"BOX", 0},     {"BILINEAR", 1},   {"BSPLINE", 2},
                              {"BICUBIC", 3}, {"CATMULLROM", 4}, {"LANCZOS", 5}};
constexpr Keyword kSet13[] = {{"FS", 0},       {"BAYER4", 1},   {"BAYER8", 2},    {"BAYER16", 3},
                              {"CLUSTER6", 4}, {"CLUSTER8", 5}, {"CLUSTER16", 6}};
// Sets 14 and 15 name the frame and watermark kinds in the debug report only.
constexpr Keyword kSet14[] = {{"NONE", 0}, {"SOLID", 1}};
constexpr Keyword kSet15[] = {{"NONE", 0}, {"TEXT", 1}, {"IMAGE", 2}};
constexpr Keyword kSet16[] = {{"REGULAR", 0}, {"BOLD", 1}, {"ITALIC", 2}, {"BOLDITALIC", 3}};
// "STRIKETHROUGHT" is the keyword as users have always written it.
constexpr Keyword kSet17[] = {{"NONE", 0}, {"UNDERLINE", 1}, {"STRIKETHROUGHT", 2}};
constexpr Keyword kSet18[] = {{"LEFT", 0}, {"CENTER", 1}, {"RIGHT", 2}};
constexpr Keyword kSet19[] = {{"IMAGE", 0}, {"FRAME", 1}};
constexpr Keyword kSet20[] = {{"TOPLEFT", 0},    {"TOPCENTER", 1},    {"TOPRIGHT", 2},
                              {"MIDDLELEFT", 3}, {"MIDDLECENTER", 4}, {"MIDDLERIGHT", 5},
                              {"BOTTOMLEFT", 6}, {"BOTTOMCENTER", 7}, {"BOTTOMRIGHT", 8}};
constexpr Keyword kSet21[] = {{"FIXED", 0}};
constexpr Keyword kSet22[] = {{"CURRENT", 0}, {"ORIGINAL", 1}, {"CUSTOM", 2}};

// Sets 14 and 15 are not for lookup: no option or key reads them.
std::span<const Keyword> SetTable(int set, bool forLookup) {
  switch (set) {
    case 0: return kSet0;
    case 1: return kSet1;
    case 2: return kSet2;
    case 3: return kSet3;
    case 4: return kSet4;
    case 5: return kSet5;
    case 6: return kSet6;
    case 7: return kSet7;
    case 8: return kSet8;
    case 9: return kSet9;
    case 10: return kSet10;
    case 11: return kSet11;
    case 12: return kSet12;
    case 13: return kSet13;
    case 14: return forLookup ? std::span<const Keyword>{} : kSet14;
    case 15: return forLookup ? std::span<const Keyword>{} : kSet15;
    case 16: return kSet16;
    case 17: return kSet17;
    case 18: return kSet18;
    case 19: return kSet19;
    case 20: return kSet20;
    case 21: return kSet21;
    case 22: return kSet22;
    default: return {};
  }
}

}  // namespace

int KeywordLookup(std::string_view text, int set) {
  const std::string upper = AsciiUpper(text);
  for (const auto& keyword : SetTable(set, true)) {
    if (keyword.text == upper) return keyword.number;
  }
  return 0;
}

std::string_view KeywordText(int set, int value) {
  for (const auto& keyword : SetTable(set, false)) {
    if (keyword.number == value) return keyword.text;
  }
  return {};
}

}  // namespace kestrel

namespace kestrel {

std::vector<std::string_view> KeywordsOf(int set) {
  std::vector<std::string_view> words;
  for (const auto& keyword : SetTable(set, true)) words.push_back(keyword.text);
  return words;
}

}  // namespace kestrel
