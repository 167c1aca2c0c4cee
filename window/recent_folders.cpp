#include "window/recent_folders.h"

#include "platform/text.h"

namespace kestrel::window {
namespace {

std::vector<std::string> SplitTabs(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto tab = text.find('\t', start);
    parts.emplace_back(text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return parts;
}

}  // namespace

void RememberOutputFolder(Settings& settings, const std::string& folder) {
  if (folder.empty()) return;
  const int limit = settings.Int(SettingId::OutFoldersNumber);
  std::string result = folder;
  int count = 1;
  int examined = 0;
  for (const std::string& raw : SplitTabs(settings.Text(SettingId::RecentOutFolders))) {
    if (examined++ >= limit) break;
    const std::string entry(TrimBlanks(raw));
    if (entry.empty() || EqualsIgnoreCase(entry, folder)) continue;
    if (count < limit) {
      result += "\t" + entry;
      ++count;
    }
  }
  settings.SetText(SettingId::RecentOutFolders, result);
}

std::vector<std::string> RecentOutputFolders(const Settings& settings) {
  std::vector<std::string> folders;
  const std::string& text = settings.Text(SettingId::RecentOutFolders);
  if (text.empty()) return folders;
  for (const std::string& raw : SplitTabs(text)) {
    const std::string entry(TrimBlanks(raw));
    if (!entry.empty()) folders.push_back(entry);
  }
  return folders;
}

}  // namespace kestrel::window
