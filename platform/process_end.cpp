#include "platform/process_end.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kestrel {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

void EndProcess(int code) {
  if (kSanitized) std::exit(code);
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace kestrel
