#include "engine/steps/drawing.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/confine/picture_load.h"
#include "engine/steps/depth.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kestrel {
namespace {

std::atomic<const DrawApi*> g_inProcess{nullptr};

// The module's functions, or why they cannot be had.
struct LoadedModule {
  const DrawApi* api = nullptr;
  std::string failure;
};

LoadedModule LoadModule() {
  const std::string folder = FolderPart(ProgramFilePath());
  LoadedModule loaded{nullptr, std::string("cannot find the drawing module ") + kDrawModuleName};
  for (const std::string& candidate :
       {folder + kDrawModuleName, folder + "../lib/kestrel/" + std::string(kDrawModuleName)}) {
    if (FileSizeQuery(candidate) <= 0) continue;
    // Kept loaded for the life of the process: fonts and layers made by it stay valid.
    void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* why = ::dlerror();
      loaded.failure = "cannot load the drawing module " + candidate + (why != nullptr ? ": " + std::string(why) : "");
      continue;
    }
    const auto entry = reinterpret_cast<DrawEntry>(::dlsym(module, kDrawEntryName));
    if (entry != nullptr) return LoadedModule{entry(), {}};
    loaded.failure = "the drawing module " + candidate + " has no entry " + kDrawEntryName;
  }
  return loaded;
}

// Loaded the first time something is drawn.
const LoadedModule& Module() {
  static std::once_flag once;
  static LoadedModule loaded;
  std::call_once(once, [] { loaded = LoadModule(); });
  return loaded;
}

const DrawApi* Drawing() {
  if (const DrawApi* api = g_inProcess.load()) return api;
  return Module().api;
}

// The image a drawing step hands on, or `failure` when it drew none.
ImageResult Drawn(ImagePtr image, const char* failure) {
  ImageResult result;
  if (!image) result.failure = failure;
  result.image = std::move(image);
  return result;
}

}  // namespace

void UseDrawingInProcess(const DrawApi* api) { g_inProcess.store(api); }

std::string DrawingUnavailableReason() { return Drawing() != nullptr ? std::string() : Module().failure; }

ImageResult DrawFramesStep(ImagePtr image, const Settings& settings, unsigned width, unsigned height) {
  if (!image || settings.Int(SettingId::DoFrame) == 0) return ImageResult{std::move(image), {}, {}};
  const DrawApi* api = Drawing();
  if (api == nullptr) return FailedImage(Module().failure);
  // Frames are drawn on a 24-bit picture: its transparency goes onto the background.
  PutOnBackground(image.get(), BackgroundColour(settings));
  api->drawFrames(&image, &settings, width, height);
  return Drawn(std::move(image), "the frame could not be drawn");
}

ImageResult DrawWatermarkStep(ImagePtr image, AppState& state, unsigned width, unsigned height) {
  if (!image || state.settings.Int(SettingId::DoWatermark) == 0) return ImageResult{std::move(image), {}, {}};
  const DrawApi* api = Drawing();
  if (api == nullptr) return FailedImage(Module().failure);
  ImagePtr picture;
  std::vector<FileNote> notes;
  if (state.settings.Int(SettingId::DoWatermark) == 2) {
    const std::string& path = state.settings.Text(SettingId::WmImage);
    ImageResult loaded = LoadPictureSandboxed(path);
    picture = std::move(loaded.image);
    // Said, not failed: without its picture the file goes on without a watermark.
    if (!picture) notes.push_back(FileNote{path, std::move(loaded.failure)});
  }
  // Watermarks are drawn on a 24-bit picture: its transparency goes onto the background.
  PutOnBackground(image.get(), BackgroundColour(state.settings));
  api->drawWatermark(&image, &state, picture.get(), width, height);
  ImageResult drawn = Drawn(std::move(image), "the watermark could not be drawn");
  drawn.notes = std::move(notes);
  return drawn;
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
