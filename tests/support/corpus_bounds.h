// The stored bounds of the corpus comparisons (tests/corpus_bounds.tsv): per
// comparison and file, the largest RMSE (0-255 scale) the file may show
// against Photoshop's own picture. Each bound is the distance measured when it
// was set plus a small margin, lowered as the code comes closer; a change that
// moves a file retunes that file's row.
#pragma once

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace kestrel::test {

// The bounds of one comparison as written, by file (or file/part) name.
inline std::map<std::string, std::string> CorpusBoundTexts(const std::string& comparison) {
  std::map<std::string, std::string> bounds;
  std::ifstream in(SourcePath("tests/corpus_bounds.tsv"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string kind, name, bound;
    if (std::getline(row, kind, '\t') && std::getline(row, name, '\t') && std::getline(row, bound, '\t') &&
        kind == comparison) {
      bounds[name] = bound;
    }
  }
  return bounds;
}

// The same as numbers.
inline std::map<std::string, double> CorpusBounds(const std::string& comparison) {
  std::map<std::string, double> bounds;
  for (const auto& [name, bound] : CorpusBoundTexts(comparison)) bounds[name] = std::stod(bound);
  return bounds;
}

// The row to write for a file measured at `rmse` (the margin is 0.03).
inline std::string BoundRow(const std::string& comparison, const std::string& name, double rmse) {
  char bound[32];
  std::snprintf(bound, sizeof bound, "%.2f", rmse + 0.03 + 0.005);
  return comparison + "\t" + name + "\t" + bound;
}

}  // namespace kestrel::test
