// Keyword values: the fixed lists from which many settings take a small number.
#pragma once

#include <string_view>
#include <vector>

namespace kestrel {

// The number of a keyword in a set, compared whole and without regard to
// case; 0 (the set's first number) for an unknown text or set. The caller
// removes blanks at both ends first.
int KeywordLookup(std::string_view text, int set);

// The first keyword of a set that stands for value; empty when none does.
// Set 4 (compression) has no single list: use CompressionKeywords of the
// output format for it.
std::string_view KeywordText(int set, int value);

// Every keyword of a set that options and profiles accept, in table order.
std::vector<std::string_view> KeywordsOf(int set);

}  // namespace kestrel
