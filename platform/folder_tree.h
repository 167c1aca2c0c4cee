// Folder trees for batch runs: the files below a folder, the subfolders an
// output needs, and modification times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace kestrel {

// The files below root (recursively) whose extension, in any letter case, is
// one of extensions (given in lower case). Paths are relative to root, with
// "/" between folders, sorted by their bytes so that every run sees the same
// order. Hidden files and folders (a name starting with ".") are skipped, and
// a symbolic link to a folder is not followed, so a loop cannot happen; a
// symbolic link to a file is taken like the file. Nothing when root is not a
// folder that can be read; unreadable subfolders are left out.
std::optional<std::vector<std::string>> FilesBelow(const std::string& root,
                                                    const std::vector<std::string>& extensions);

// Makes the folders of relative (such as "a/b/") below base, which must exist.
// Refuses a "..", "." or empty component, an absolute path, and any component
// that exists as something other than a real folder (a symbolic link too), so
// nothing is ever made outside base.
Outcome MakeFoldersBelow(const std::string& base, const std::string& relative);

// The last modification time of a file in nanoseconds since 1970, following
// symbolic links; nothing when the file does not exist.
std::optional<std::int64_t> ModificationTimeNs(const std::string& path);

}  // namespace kestrel
