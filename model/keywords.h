// Keyword values: the fixed lists from which many settings take a small number.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace kestrel {

struct SettingRow;

// The keyword lists, by what they choose. A keyword's number is its place in
// its list.
enum class KeywordSet {
  DdsLoadAs, RawLoadAs, FrameLoading, RawToneMapping,
  Compression,  // each output format numbers its own methods; see the format rows
  ColourTable, BmpHeader, ColourMode, JpgChroma, JpgSaveAs, RotationType, SizeUnit, ResizeType, ResizeFilter, Dither,
  FrameKind, WatermarkKind, FontStyle, FontEffect, TextAlignment, Boundary, Position, WatermarkSize, FileTimestamp,
  None = -1,
};

// A keyword and the library value it stands for (0 where it stands for none).
struct Keyword {
  std::string_view text;
  int library = 0;
};

// The number of a keyword in a set, compared whole and without regard to
// case; 0 (the set's first number) for an unknown text, a report-only set or
// None. The caller removes blanks at both ends first. Compression takes the
// methods of every output format, the first format that has the word giving
// its number.
int KeywordLookup(std::string_view text, KeywordSet set);

// The first keyword of a set that stands for value; empty when none does.
// For Compression: the first output format's method with that number.
std::string_view KeywordText(KeywordSet set, int value);

// The keyword of a setting's value: for a compression setting the method of
// the format the setting belongs to, otherwise KeywordText of its set.
std::string_view KeywordTextOf(const SettingRow& row, int value);

// Every keyword of a set that options and profiles accept, in table order
// (none for a report-only set); Compression gives each method once.
std::vector<std::string_view> KeywordsOf(KeywordSet set);

// The library value of keyword number `value`, or `fallback` outside the set.
int KeywordLibraryValue(KeywordSet set, int value, int fallback);

// The keyword with number `value` in a list, or null.
const Keyword* KeywordAt(std::span<const Keyword> keywords, int value);

}  // namespace kestrel
