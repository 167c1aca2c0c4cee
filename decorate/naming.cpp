#include "decorate/naming.h"

#include "platform/paths.h"

namespace kestrel {

std::string FileBaseName(const std::string& path) {
  const std::string name = FileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string BuildOutputPath(const AppState& state) {
  const RunState& run = state.run;
  std::string folder = run.output;
  if (state.settings.IsOn(SettingId::KeepSubfolders)) folder += run.relativeSubfolder;
  // TODO(naming): the file-name mask and its tokens; this is the default mask.
  return folder + FileBaseName(run.currentInputPath) + "." + run.conversion;
}

}  // namespace kestrel

namespace kestrel {

std::string ExpandWatermarkText(const AppState& /*state*/, const std::string& text) {
  // TODO(naming): the name tokens.
  return text;
}

}  // namespace kestrel
