// The records that a conversion job shares: the input list and the status.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kestrel {

struct InputEntry {
  std::int32_t marked = 0;
  std::string subfolder;  // folder relative to the input base folder, or empty
};

// Input files keyed by full path, compared as stored.
using InputList = std::map<std::string, InputEntry>;

// Progress of a job, shared by the worker and whoever watches it.
struct JobStatus {
  std::mutex mutex;  // guards every field below while a job runs
  std::int32_t fileIndex = 0;
  std::string currentFile;
  std::int64_t lastDurationMs = 0;
  std::int32_t fileCount = 0;
  bool running = false;
};

}  // namespace kestrel
