// Times the load and each image step on the largest file of the shared corpus
// (or on the file given as the first argument). Each step runs on a fresh copy
// of the loaded, normalised image; one line per step with the median of the runs.
// Usage: step_bench [INPUT.psd] [RUNS]
#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/steps/adjustments.h"
#include "engine/steps/depth.h"
#include "engine/steps/geometry.h"
#include "engine/decode/load.h"
#include "job/pipeline.h"
#include "output/save.h"
#include "job/job.h"

namespace {

using kestrel::ImagePtr;
using kestrel::SettingId;
using kestrel::Settings;
using Clock = std::chrono::steady_clock;

std::string LargestCorpusFile() {
  std::string largest;
  std::uintmax_t largestSize = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(KESTREL_CORPUS_DIR "/psd", error)) {
    if (entry.path().extension() != ".psd" || !entry.is_regular_file()) continue;
    if (entry.file_size() > largestSize) largestSize = entry.file_size(), largest = entry.path().string();
  }
  return largest;
}

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

std::string Shape(FIBITMAP* image) {
  if (image == nullptr) return "no image";
  return std::to_string(FreeImage_GetWidth(image)) + "x" + std::to_string(FreeImage_GetHeight(image)) + " " +
         std::to_string(FreeImage_GetBPP(image)) + " bpp";
}

void Report(const std::string& label, std::vector<double> times, const std::string& result) {
  std::sort(times.begin(), times.end());
  std::printf("%-28s median %9.2f ms  min %9.2f ms  -> %s\n", label.c_str(), times[times.size() / 2], times.front(),
              result.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string input = argc > 1 ? argv[1] : LargestCorpusFile();
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (input.empty()) {
    std::fprintf(stderr, "no input: give a PSD file\n");
    return 2;
  }
  std::printf("input %s (%ju bytes), %d runs per step\n", input.c_str(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(input)), runs);

  kestrel::AppState state;
  kestrel::PrepareCommandLineState(state);
  const Settings defaults = state.settings;

  std::vector<double> times;
  ImagePtr loaded;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    loaded = kestrel::LoadInputImage(input, kestrel::LoadFlagsForInput(defaults, "psd")).image;
    times.push_back(Milliseconds(Clock::now() - start));
  }
  if (!loaded) {
    std::fprintf(stderr, "cannot load %s\n", input.c_str());
    return 1;
  }
  Report("load", times, Shape(loaded.get()));

  times.clear();
  ImagePtr base;
  for (int i = 0; i < runs; ++i) {
    ImagePtr copy = kestrel::Adopt(FreeImage_Clone(loaded.get()));
    const auto start = Clock::now();
    copy = kestrel::ToneMapWideImage(kestrel::NormaliseGreyscale(std::move(copy)));
    times.push_back(Milliseconds(Clock::now() - start));
    base = std::move(copy);
  }
  Report("normalise + tone-map", times, Shape(base.get()));

  using Step = std::function<ImagePtr(ImagePtr)>;
  auto with = [&](std::initializer_list<std::pair<SettingId, std::int64_t>> numbers) {
    Settings settings = defaults;
    for (const auto& [id, value] : numbers) settings.SetNumber(id, value);
    return settings;
  };
  const Settings rotate90 = with({{SettingId::DoImageRotation, 1}, {SettingId::Rotation, 90}});
  const Settings rotate33 =
      with({{SettingId::DoImageRotation, 1}, {SettingId::Rotation, 33}, {SettingId::RotationType, 1}});
  const Settings resize50 = with({{SettingId::DoImageResize, 1}, {SettingId::Width, 50}, {SettingId::WidthUnit, 1},
                                  {SettingId::Height, 50}, {SettingId::HeightUnit, 1}});
  const Settings flips = with({{SettingId::FlipHorizontal, 1}, {SettingId::FlipVertical, 1}});
  Settings adjust = with({{SettingId::DoImageColorCorrection, 1}, {SettingId::Brightness, 20},
                          {SettingId::Contrast, 10}, {SettingId::Invert, 1}});
  adjust.SetReal(SettingId::Gamma, 1.2f);
  const Settings greyscale = with({{SettingId::Greyscale, 1}});
  const Settings threshold = with({{SettingId::DoImageThreshold, 1}, {SettingId::Threshold, 128}});
  const Settings ditherFs = with({{SettingId::DoImageDither, 1}, {SettingId::Dither, 0}});
  const Settings ditherBayer16 = with({{SettingId::DoImageDither, 1}, {SettingId::Dither, 3}});
  auto depth = [&](int bpp) {
    return [&state, bpp](ImagePtr image) {
      state.run.conversion = "bmp";
      state.run.automaticDepth = false;
      state.run.outputDepth = bpp;
      return kestrel::ConvertToOutputDepth(std::move(image), state.run);
    };
  };

  const std::vector<std::pair<std::string, Step>> steps = {
      {"rotate 90 simple", [&](ImagePtr i) { return kestrel::RotateImage(std::move(i), rotate90); }},
      {"rotate 33 advanced", [&](ImagePtr i) { return kestrel::RotateImage(std::move(i), rotate33); }},
      {"resize 50% bicubic",
       [&](ImagePtr i) {
         const unsigned w = FreeImage_GetWidth(i.get()), h = FreeImage_GetHeight(i.get());
         return kestrel::ResizeImage(std::move(i), resize50, w, h);
       }},
      {"flip horizontal + vertical",
       [&](ImagePtr i) {
         kestrel::FlipImage(i.get(), flips);
         return i;
       }},
      {"adjust colours", [&](ImagePtr i) { return kestrel::AdjustColours(std::move(i), adjust); }},
      {"greyscale", [&](ImagePtr i) { return kestrel::ApplyGreyscale(std::move(i), greyscale); }},
      {"threshold 128", [&](ImagePtr i) { return kestrel::ApplyThreshold(std::move(i), threshold); }},
      {"dither FS", [&](ImagePtr i) { return kestrel::ApplyDither(std::move(i), ditherFs); }},
      {"dither BAYER16", [&](ImagePtr i) { return kestrel::ApplyDither(std::move(i), ditherBayer16); }},
      {"depth 32", depth(32)},
      {"depth 16", depth(16)},
      {"depth 8 (Wu palette)", depth(8)},
      {"depth 4", depth(4)},
      {"depth 1 (FS dither)", depth(1)},
  };
  for (const auto& [label, step] : steps) {
    times.clear();
    ImagePtr result;
    for (int i = 0; i < runs; ++i) {
      ImagePtr copy = kestrel::Adopt(FreeImage_Clone(base.get()));
      const auto start = Clock::now();
      result = step(std::move(copy));
      times.push_back(Milliseconds(Clock::now() - start));
    }
    Report(label, times, Shape(result.get()));
  }

  // The exact colour table: counting the used entries and writing the file.
  state.run.outputDepth = 8;
  ImagePtr indexed = depth(8)(kestrel::Adopt(FreeImage_Clone(base.get())));
  times.clear();
  int used = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    used = kestrel::CountUsedPaletteEntries(indexed.get());
    times.push_back(Milliseconds(Clock::now() - start));
  }
  Report("count used palette entries", times, std::to_string(used) + " entries");
  const std::string output = (std::filesystem::temp_directory_path() / "kestrel-step-bench.bmp").string();
  for (int flags : {BMP_DEFAULT, BMP_SAVE_RLE}) {
    times.clear();
    bool written = false;
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      written = static_cast<bool>(kestrel::WriteBmpExactColourTable(indexed.get(), output, flags));
      times.push_back(Milliseconds(Clock::now() - start));
    }
    const auto size = written ? std::filesystem::file_size(output) : 0;
    Report(flags == BMP_DEFAULT ? "exact colour table, plain" : "exact colour table, RLE8", times,
           written ? std::to_string(size) + " bytes" : "failed");
  }
  std::filesystem::remove(output);
  return 0;
}
