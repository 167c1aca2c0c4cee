#include "engine/signature.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/files.h"

namespace kestrel {

// TODO(signatures): the full table of file signatures; until then Photoshop only.
std::string DetectFileSignature(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return kUnrecognizedSignature;
  char head[4] = {};
  if (::read(fd.Get(), head, sizeof head) != static_cast<ssize_t>(sizeof head)) return kUnrecognizedSignature;
  if (std::memcmp(head, "8BPS", 4) == 0) return "PSD";
  return kUnrecognizedSignature;
}

}  // namespace kestrel
