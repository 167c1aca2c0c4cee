#include "platform/folder_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/files.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool WantedExtension(const std::string& name, const std::vector<std::string>& extensions) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string extension = LowerAscii(name.substr(dot + 1));
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

}  // namespace

std::optional<std::vector<std::string>> FilesBelow(const std::string& root,
                                                    const std::vector<std::string>& extensions) {
  std::error_code error;
  if (!fs::is_directory(root, error)) return std::nullopt;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  if (error) return std::nullopt;
  std::vector<std::string> found;
  const fs::path base(root);
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    // The iterator does not follow symbolic links to folders unless told to.
    if (name.starts_with(".")) {
      if (entry.is_directory(error) && !entry.is_symlink(error)) it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file(error) || !WantedExtension(name, extensions)) continue;
    found.push_back(entry.path().lexically_relative(base).generic_string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

Outcome MakeFoldersBelow(const std::string& base, const std::string& relative) {
  if (relative.starts_with("/")) return Failed("the subfolder " + relative + " is not below the output folder");
  UniqueFd folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) return Failed("the output folder cannot be opened: " + std::string(std::strerror(errno)));
  std::size_t start = 0;
  while (start < relative.size()) {
    auto end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == "." || part == "..") {
      return Failed("the subfolder " + relative + " is not below the output folder");
    }
    if (::mkdirat(folder.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
      return Failed("the output subfolder " + relative + " cannot be made: " + std::strerror(errno));
    }
    // O_NOFOLLOW: a symbolic link put in the output tree must not lead outside it.
    UniqueFd next(::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) return Failed("the output subfolder " + relative + " is not a folder");
    folder = std::move(next);
  }
  return Succeeded();
}

std::optional<std::int64_t> ModificationTimeNs(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

}  // namespace kestrel
