// The facts of input files as people and scripts read them: lines of text,
// or JSON (one object per file, an array for several) whose schema the
// manual documents. Names and texts from the file are made valid one-line
// UTF-8 before they are shown.
#pragma once

#include <string>
#include <vector>

#include "engine/decode/confined_psd.h"

namespace kestrel {

// The version of the JSON form; it changes when a field changes meaning or goes.
inline constexpr int kFactsJsonVersion = 1;

struct NamedFacts {
  std::string file;  // as the user named it ("stdin" for standard input)
  FactsResult result;
};

// The JSON text of the files: an object for one, an array for several.
std::string FactsAsJson(const std::vector<NamedFacts>& files);

// The lines of text for one file.
std::vector<std::string> FactsAsText(const NamedFacts& file);

}  // namespace kestrel
