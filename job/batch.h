// Batch runs: many input files from folders and lists, converted several at a
// time by worker processes, each file decoded in a confined child of its own,
// with the report in input order.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "model/app_state.h"

namespace kestrel {

// Where the files of a batch come from, in the order the options were given.
struct BatchSource {
  enum class Kind { File, Folder, List, NulList };
  Kind kind = Kind::File;
  std::string value;  // the path; "-" for a list read from standard input
};

struct BatchItem {
  std::string path;          // the input file as found or listed
  std::string subfolder;     // its folder relative to the input folder, ending in "/", or empty
  std::string outputFolder;  // where its output goes when no output folder was given, ending in "/"
};

// The files of the sources in order, each path once (its first place kept),
// or the console line that refuses them: "Error: Invalid input folder" or
// "Error: Invalid input list". With no output folder given (outputGiven
// false), a folder's files go below that folder and a listed file next to itself.
// A folder gives the files with the `extensions` the program reads (lower case).
std::variant<std::vector<BatchItem>, std::string> CollectBatchItems(const std::vector<BatchSource>& sources,
                                                                    const std::vector<std::string>& extensions,
                                                                    bool outputGiven);

struct BatchOptions {
  int jobs = 1;           // files converted at once
  bool update = false;    // skip files whose output is at least as new as the input
  bool progress = false;  // redraw a progress line on standard error
};

struct BatchSummary {
  int total = 0;
  int converted = 0;
  int failed = 0;
  int skipped = 0;
};

// Converts the items, at most options.jobs at a time. Every file starts from
// the state as it is now, as a single-file run would, with %n% its position
// in the list. The debug trace and the failure lines ("kestrel: <path>:
// <why>", to state.printError or standard error) come in input order.
BatchSummary RunBatch(AppState& state, const std::vector<BatchItem>& items, const BatchOptions& options);

}  // namespace kestrel
