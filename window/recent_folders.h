// The recent output folders: tab-separated, most recent first.
#pragma once

#include <string>
#include <vector>

#include "model/settings.h"

namespace kestrel::window {

// Puts folder in front of the recent output folders, dropping an entry that
// equals it without regard to letter case and keeping at most
// "Out Folders Number" entries. An empty folder changes nothing.
void RememberOutputFolder(Settings& settings, const std::string& folder);

// The entries of the recent output folders, blanks trimmed, empty ones left out.
std::vector<std::string> RecentOutputFolders(const Settings& settings);

}  // namespace kestrel::window
