#include "engine/drawing.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kestrel {
namespace {

std::atomic<const DrawApi*> g_inProcess{nullptr};

const DrawApi* LoadModule() {
  const std::string folder = FolderPart(ProgramFilePath());
  for (const std::string& candidate :
       {folder + kDrawModuleName, folder + "../lib/kestrel/" + std::string(kDrawModuleName)}) {
    if (FileSizeQuery(candidate) <= 0) continue;
    // Kept loaded for the life of the process: fonts and layers made by it stay valid.
    void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    const auto entry = reinterpret_cast<DrawEntry>(::dlsym(module, kDrawEntryName));
    if (entry != nullptr) return entry();
  }
  WriteErrorLine(std::string("kestrel: cannot load the drawing module ") + kDrawModuleName);
  return nullptr;
}

const DrawApi* Drawing() {
  if (const DrawApi* api = g_inProcess.load()) return api;
  static std::once_flag once;
  static const DrawApi* loaded = nullptr;
  std::call_once(once, [] { loaded = LoadModule(); });
  return loaded;
}

}  // namespace

void UseDrawingInProcess(const DrawApi* api) { g_inProcess.store(api); }

ImagePtr DrawFramesStep(ImagePtr image, const Settings& settings, unsigned width, unsigned height) {
  if (!image || settings.Int(SettingId::DoFrame) == 0) return image;
  const DrawApi* api = Drawing();
  if (api == nullptr) return nullptr;
  api->drawFrames(&image, &settings, width, height);
  return image;
}

ImagePtr DrawWatermarkStep(ImagePtr image, AppState& state, unsigned width, unsigned height) {
  if (!image || state.settings.Int(SettingId::DoWatermark) == 0) return image;
  const DrawApi* api = Drawing();
  if (api == nullptr) return nullptr;
  api->drawWatermark(&image, &state, width, height);
  return image;
}

std::shared_ptr<WatermarkFont> OpenWatermarkFont(const std::string& face, int sizePoints, FontStyle style) {
  const DrawApi* api = Drawing();
  std::shared_ptr<WatermarkFont> font;
  if (api != nullptr) api->openFont(&font, &face, sizePoints, style);
  return font;
}

std::shared_ptr<WatermarkFont> OpenWatermarkFont(const Settings& settings) {
  const int style = settings.Int(SettingId::WmFontStyle);    // REGULAR, BOLD, ITALIC, BOLDITALIC
  const int effect = settings.Int(SettingId::WmFontEffect);  // NONE, UNDERLINE, STRIKETHROUGHT
  const FontStyle fontStyle{style == 1 || style == 3, style == 2 || style == 3, effect == 1, effect == 2};
  return OpenWatermarkFont(settings.Text(SettingId::WmFont), settings.Int(SettingId::WmFontSize), fontStyle);
}

}  // namespace kestrel
