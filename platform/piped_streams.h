// A document read from standard input and a picture written to standard
// output, so that the program can stand inside a shell pipeline. The input
// is held in an unnamed file in memory: the loader opens it by a path like any
// file and hands its descriptor to the confined decoder, so piped bytes are
// never decoded outside the child.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/outcome.h"

namespace kestrel {

struct PipedInput {
  UniqueFd fd;           // the unnamed file that holds what standard input gave
  std::string path;      // a path that opens it ("/proc/self/fd/N")
  std::uint64_t size = 0;
  std::string failure;   // why it could not be read; empty when it was
};

// Reads all of standard input into an unnamed file in memory.
PipedInput ReadStandardInput();

// Whether standard output is a terminal.
bool OutputIsTerminal();

// Copies the file at path to standard output. A reader that closed the pipe
// early fails the copy with its reason (the process ignores SIGPIPE).
Outcome CopyFileToStandardOutput(const std::string& path);

// A folder of this process's own under the temporary folder ($TMPDIR or
// /tmp), 0700, removed with the files directly in it.
class PrivateFolder {
 public:
  PrivateFolder();
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  // Ends with "/"; empty when the folder could not be made.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kestrel
