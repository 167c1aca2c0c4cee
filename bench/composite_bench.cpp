// One picture of a Photoshop file, made in process for bench/run: "merged"
// decodes the stored merged image the way the confined decoder does (its own
// decoder where it reads the file's mode and depth, FreeImage otherwise),
// "layers" reads the layer section and composites it. Prints the
// milliseconds the work took, after the file is in memory, then the bytes of
// the picture, of the largest layer (all its channels unpacked, clipped to
// the canvas), from which bench/run states the memory target, and of all the
// stored samples the work unpacked; bench/run takes the peak memory from
// measure_run.
// Usage: composite_bench FILE merged|layers
#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/bitmap/image.h"
#include "engine/psd/channels.h"
#include "engine/composite/compositor.h"
#include "engine/psd/document.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "engine/decode/merged_image.h"

namespace {

std::uint64_t PictureBytes(FIBITMAP* image) {
  return image == nullptr ? 0 : std::uint64_t{FreeImage_GetPitch(image)} * FreeImage_GetHeight(image);
}

// The unpacked bytes of the largest layer and of all layers (their channels, clipped to the canvas).
std::pair<std::uint64_t, std::uint64_t> LayerBytes(const kestrel::PsdHeader& header, const kestrel::PsdLayers& layers) {
  std::uint64_t largest = 0;
  std::uint64_t total = 0;
  for (const kestrel::PsdLayer& layer : layers.layers) {
    const std::int64_t width = std::min<std::int64_t>(layer.rect.right, header.width) - std::max(layer.rect.left, 0);
    const std::int64_t height = std::min<std::int64_t>(layer.rect.bottom, header.height) - std::max(layer.rect.top, 0);
    if (width <= 0 || height <= 0) continue;
    const std::uint64_t row = kestrel::ChannelRowBytes(static_cast<std::uint32_t>(width), header.depth);
    const std::uint64_t bytes = row * static_cast<std::uint64_t>(height) * layer.channels.size();
    largest = std::max(largest, bytes);
    total += bytes;
  }
  return {largest, total};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE merged|layers\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const kestrel::PsdHeaderCheck check = kestrel::CheckPsdHeader(bytes);
  if (!check.ok) return 1;
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t picture = 0;
  std::uint64_t largestLayer = 0;
  std::uint64_t unpacked = 0;  // the stored samples the work unpacks
  if (std::strcmp(argv[2], "merged") == 0) {
    const kestrel::PsdDocument contents = kestrel::ReadPsdDocument(bytes, check.header);
    kestrel::ImagePtr image;
    if (kestrel::DecodesMergedImage(contents)) {
      image = kestrel::DecodeMergedImage(contents);
    } else {
      FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
      image = kestrel::Adopt(FreeImage_LoadFromMemory(FIF_PSD, memory, 0));
      FreeImage_CloseMemory(memory);
    }
    picture = PictureBytes(image.get());
    unpacked = check.header.decodedBytes;
  } else {
    const kestrel::PsdDocument document = kestrel::ReadPsdDocument(bytes, check.header);
    const kestrel::PsdLayers& layers = document.layers;
    const kestrel::LayerComposite composite = kestrel::CompositeLayers(document);
    picture = PictureBytes(composite.image.get());
    std::tie(largestLayer, unpacked) = LayerBytes(check.header, layers);
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f %llu %llu %llu\n", ms, static_cast<unsigned long long>(picture),
              static_cast<unsigned long long>(largestLayer), static_cast<unsigned long long>(unpacked));
  return picture > 0 ? 0 : 1;
}
