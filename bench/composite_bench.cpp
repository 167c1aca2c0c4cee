// One picture of a Photoshop file, made in process for bench/run: "merged"
// decodes the stored merged image with FreeImage, "layers" reads the layer
// section and composites it. Prints the milliseconds the work took, after the
// file is in memory; bench/run takes the peak memory from measure_run.
// Usage: composite_bench FILE merged|layers
#include <FreeImage.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/layer_composite.h"
#include "engine/psd_header.h"
#include "engine/psd_layers.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE merged|layers\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const auto start = std::chrono::steady_clock::now();
  bool made = false;
  if (std::strcmp(argv[2], "merged") == 0) {
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    FIBITMAP* image = FreeImage_LoadFromMemory(FIF_PSD, memory, 0);
    made = image != nullptr;
    FreeImage_Unload(image);
    FreeImage_CloseMemory(memory);
  } else {
    const kestrel::PsdHeaderCheck check = kestrel::CheckPsdHeader(bytes);
    if (check.ok) {
      made = static_cast<bool>(
          kestrel::CompositeLayers(bytes, check.header, kestrel::ReadPsdLayers(bytes, check.header)).image);
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", ms);
  return made ? 0 : 1;
}
