#include "platform/process_end.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/sanitizer.h"

namespace kestrel {

void EndProcess(int code) {
  if (kSanitizedBuild) std::exit(code);
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace kestrel
