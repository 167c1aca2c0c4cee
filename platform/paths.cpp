#include "platform/paths.h"

namespace kestrel {
namespace {
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
}  // namespace

std::string ExtensionOf(std::string_view path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    const char c = path[i];
    if (c == '.') {
      if (i == 0 || IsSeparator(path[i - 1])) return {};
      return std::string(path.substr(i + 1));
    }
    if (IsSeparator(c) || c == ' ') return {};
  }
  return {};
}

std::string FolderPart(std::string_view path) {
  const auto last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return {};
  return std::string(path.substr(0, last + 1));
}

std::string FileNamePart(std::string_view path) {
  const auto last = path.find_last_of("/\\");
  if (last == std::string_view::npos) return std::string(path);
  return std::string(path.substr(last + 1));
}

}  // namespace kestrel
