// The layer compositor against Photoshop's own merged image: every corpus file
// with layers and a real merged image is composited from its layers and
// compared, flattened onto white, with the merged image, within the file's
// bound in tests/corpus_bounds.tsv. psd-tools' composite is printed beside it.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/composite/compositor.h"
#include "engine/psd/document.h"
#include "engine/decode/merged_image.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "engine/decode/confined_psd.h"
#include "tests/support/corpus_bounds.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct Rgb8 {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bytes;  // top row first
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Rgb8 ReadPpm(const std::string& path) {
  Rgb8 image;
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maximum = 0;
  in >> magic >> image.width >> image.height >> maximum;
  in.get();
  image.bytes.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  if (magic != "P6" || !in) image.bytes.clear();
  return image;
}

// A composite as the decoder hands it over, flattened onto white at 8 bits.
Rgb8 Flatten(FIBITMAP* bitmap) {
  Rgb8 out;
  out.width = static_cast<int>(FreeImage_GetWidth(bitmap));
  out.height = static_cast<int>(FreeImage_GetHeight(bitmap));
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  const unsigned bpp = FreeImage_GetBPP(bitmap);
  for (int y = 0; y < out.height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(bitmap, out.height - 1 - y);
    for (int x = 0; x < out.width; ++x) {
      double rgba[4] = {0, 0, 0, 1};
      if (type == FIT_BITMAP && bpp == 8) {
        rgba[0] = rgba[1] = rgba[2] = line[x] / 255.0;
      } else if (type == FIT_BITMAP) {
        const BYTE* p = line + x * (bpp / 8);
        rgba[0] = p[FI_RGBA_RED] / 255.0;
        rgba[1] = p[FI_RGBA_GREEN] / 255.0;
        rgba[2] = p[FI_RGBA_BLUE] / 255.0;
        if (bpp == 32) rgba[3] = p[FI_RGBA_ALPHA] / 255.0;
      } else if (type == FIT_UINT16) {
        rgba[0] = rgba[1] = rgba[2] = reinterpret_cast<const WORD*>(line)[x] / 65535.0;
      } else if (type == FIT_FLOAT) {
        rgba[0] = rgba[1] = rgba[2] = reinterpret_cast<const float*>(line)[x];
      } else {
        const int n = type == FIT_RGB16 || type == FIT_RGBF ? 3 : 4;
        for (int k = 0; k < n; ++k) {
          rgba[k] = type == FIT_RGB16 || type == FIT_RGBA16 ? reinterpret_cast<const WORD*>(line)[x * n + k] / 65535.0
                                                            : reinterpret_cast<const float*>(line)[x * n + k];
        }
      }
      for (int k = 0; k < 3; ++k) {
        const double v = std::clamp(rgba[k], 0.0, 1.0) * rgba[3] + (1 - rgba[3]);
        out.bytes.push_back(static_cast<std::uint8_t>(std::lround(v * 255)));
      }
    }
  }
  return out;
}

double Rmse(const Rgb8& a, const Rgb8& b) {
  if (a.width != b.width || a.height != b.height || a.bytes.size() != b.bytes.size() || a.bytes.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.bytes.size(); ++i) {
    const double d = double(a.bytes[i]) - double(b.bytes[i]);
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(a.bytes.size()));
}

// The files the manifest lists with layers and a merged image marked real (or not).
std::vector<std::string> LayeredFiles(const char* realMerged) {
  std::vector<std::string> files;
  std::ifstream manifest(test::CorpusPath("psd/MANIFEST.tsv"));
  std::string line;
  std::getline(manifest, line);
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
    if (fields.size() > 14 && fields[12] == "yes" && fields[14] == realMerged) files.push_back(fields[0]);
  }
  return files;
}

LayerComposite Composite(const std::vector<std::uint8_t>& bytes) {
  const PsdHeaderCheck check = CheckPsdHeader(bytes);
  if (!check.ok) {
    LayerComposite failed;
    failed.problem = check.problem;
    return failed;
  }
  return CompositeLayers(ReadPsdDocument(bytes, check.header));
}

// psd-tools' reading of a file: the merged image it stores and psd-tools'
// own composite of its layers. Empty when psd-tools cannot read the file.
struct Reference {
  Rgb8 merged;
  Rgb8 composite;
};

std::optional<Reference> PsdToolsReading(const std::string& path, const test::TempDir& temp) {
  const std::string merged = temp.File("merged.ppm");
  const std::string composite = temp.File("composite.ppm");
  const std::string command = "/usr/bin/python3 " + test::SourcePath("tools/psd_reference.py") + " '" + path +
                              "' " + merged + " " + composite + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return Reference{ReadPpm(merged), ReadPpm(composite)};
}

// Photoshop's merged image of a file: decoded by the program where its decoder
// reads it (8 and 16 bits), as psd-tools reads it otherwise.
std::optional<Rgb8> StoredMergedImage(const std::vector<std::uint8_t>& bytes, const std::optional<Reference>& theirs) {
  // The stored merged image as the program shows it, through the file's
  // profile and colour conversion, so that the rebuilt picture must go through
  // the same one. (Float files stay linear light until the steps after decoding.)
  const PsdHeader header = CheckPsdHeader(bytes).header;
  const PsdDocument document = ReadPsdDocument(bytes, header);
  const bool converted = header.depth != 32 && DecodesMergedImage(document);
  if (!converted && theirs) return theirs->merged;
  const ImagePtr decoded = DecodeMergedImage(document);
  if (!decoded) return std::nullopt;
  return Flatten(decoded.get());
}

// The RMSE of a rectangle of two pictures of one size.
double RegionRmse(const Rgb8& a, const Rgb8& b, const PsdRect& r) {
  if (a.width != b.width || a.height != b.height || a.bytes.size() != b.bytes.size()) return 1e9;
  double sum = 0;
  std::size_t count = 0;
  for (std::int64_t y = std::max<std::int64_t>(r.top, 0); y < std::min<std::int64_t>(r.bottom, a.height); ++y) {
    for (std::int64_t x = std::max<std::int64_t>(r.left, 0); x < std::min<std::int64_t>(r.right, a.width); ++x) {
      for (int k = 0; k < 3; ++k) {
        const std::size_t i = (static_cast<std::size_t>(y) * a.width + static_cast<std::size_t>(x)) * 3 + k;
        const double d = double(a.bytes[i]) - double(b.bytes[i]);
        sum += d * d;
        ++count;
      }
    }
  }
  return count == 0 ? 1e9 : std::sqrt(sum / static_cast<double>(count));
}

// Every corpus file with layers and a real merged image is composited and
// stays within its stored bound of Photoshop's merged image. A file without a
// bound, or one that no longer composites, fails.
TEST(CorpusLayers, CompositeStaysWithinEachFilesBoundOfTheStoredMergedImage) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::map<std::string, double> bounds = test::CorpusBounds("layers");
  test::TempDir temp;
  const std::vector<std::string> files = LayeredFiles("yes");
  // Every row is a file of the comparison: a stale row fails too.
  EXPECT_EQ(files.size(), bounds.size());
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const std::string path = test::CorpusPath("psd/" + name);
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    const LayerComposite ours = Composite(bytes);
    ASSERT_TRUE(ours.image) << "not composited: " << ours.problem;
    const std::optional<Reference> theirs = PsdToolsReading(path, temp);
    const std::optional<Rgb8> stored = StoredMergedImage(bytes, theirs);
    ASSERT_TRUE(stored) << "no merged image to compare with";
    const double rmse = Rmse(Flatten(ours.image.get()), *stored);
    const auto bound = bounds.find(name);
    std::printf("%-40s layers %3d  kestrel %7.2f  psd-tools %7.2f\n", name.c_str(), ours.layersDrawn, rmse,
                theirs ? Rmse(theirs->composite, theirs->merged) : -1.0);
    if (bound == bounds.end()) {
      ADD_FAILURE() << "no stored bound; row: " << test::BoundRow("layers", name, rmse);
      continue;
    }
    EXPECT_LE(rmse, bound->second) << "row at today's value: " << test::BoundRow("layers", name, rmse);
  }
}

// Each blend mode's tile of pt_rgb-blend-modes (a picture over a rainbow, one
// tile per mode) against the same tile of the stored merged image, each with
// a bound of its own: a fault in one mode shows in its tile.
TEST(CorpusLayers, EachBlendModeTileStaysWithinItsBound) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::string name = "pt_rgb-blend-modes.psd";
  const std::map<std::string, double> bounds = test::CorpusBounds("tile");
  test::TempDir temp;
  const std::string path = test::CorpusPath("psd/" + name);
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  const LayerComposite ours = Composite(bytes);
  ASSERT_TRUE(ours.image) << ours.problem;
  const std::optional<Reference> theirs = PsdToolsReading(path, temp);
  ASSERT_TRUE(theirs);
  const Rgb8 composite = Flatten(ours.image.get());
  const PsdLayers layers = ReadPsdLayers(bytes, CheckPsdHeader(bytes).header);
  // A tile is a group of layers holding no group, named after its mode; two
  // artboards hold a tile of each mode, so a tile is named by its place too.
  struct Open {
    PsdRect rect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    bool holdsGroups = false;
  };
  std::vector<Open> open;
  std::vector<std::pair<std::string, PsdRect>> found;
  for (const PsdLayer& layer : layers.layers) {  // bottom to top: a group's end comes before its layers
    if (layer.section == PsdSection::GroupEnd) {
      if (!open.empty()) open.back().holdsGroups = true;
      open.push_back({});
      continue;
    }
    if (open.empty()) continue;
    PsdRect& r = open.back().rect;
    const PsdRect add = layer.section == PsdSection::Layer ? layer.rect : PsdRect{};
    if (layer.section == PsdSection::Layer) {
      r = PsdRect{std::min(r.top, add.top), std::min(r.left, add.left), std::max(r.bottom, add.bottom),
                  std::max(r.right, add.right)};
      continue;
    }
    const Open group = open.back();
    open.pop_back();
    if (!open.empty()) {
      PsdRect& parent = open.back().rect;
      parent = PsdRect{std::min(parent.top, group.rect.top), std::min(parent.left, group.rect.left),
                       std::max(parent.bottom, group.rect.bottom), std::max(parent.right, group.rect.right)};
    }
    if (!group.holdsGroups) {
      found.emplace_back(name + "/" + layer.name + "@" + std::to_string(group.rect.left) + "," +
                             std::to_string(group.rect.top),
                         group.rect);
    }
  }
  ASSERT_FALSE(found.empty());
  int tiles = 0;
  for (const auto& [tile, rect] : found) {
    const double rmse = RegionRmse(composite, theirs->merged, rect);
    std::printf("%-40s %7.2f\n", tile.c_str(), rmse);
    const auto bound = bounds.find(tile);
    ++tiles;
    if (bound == bounds.end()) {
      ADD_FAILURE() << tile << ": no stored bound; row: " << test::BoundRow("tile", tile, rmse);
      continue;
    }
    EXPECT_LE(rmse, bound->second) << tile << ": row at today's value: " << test::BoundRow("tile", tile, rmse);
  }
  EXPECT_EQ(tiles, static_cast<int>(bounds.size()));
}

// A file whose merged image is a placeholder loads, through the confined
// decoder, as its layers composited: within its stored bound of psd-tools'
// composite, and closer to it than the placeholder.
TEST(CorpusLayers, PlaceholderMergedImagesAreReplacedByTheLayers) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  const std::map<std::string, double> bounds = test::CorpusBounds("placeholder");
  test::TempDir temp;
  int compared = 0;
  for (const std::string& name : LayeredFiles("no")) {
    SCOPED_TRACE(name);
    const std::string path = test::CorpusPath("psd/" + name);
    const ImageResult load = LoadPsdSandboxed(path, 0);
    ASSERT_TRUE(load.image) << load.failure;
    const std::optional<Reference> theirs = PsdToolsReading(path, temp);
    ASSERT_TRUE(theirs);
    const double rmse = Rmse(Flatten(load.image.get()), theirs->composite);
    const double placeholder = Rmse(theirs->merged, theirs->composite);
    std::printf("%-40s kestrel %7.2f  stored placeholder %7.2f\n", name.c_str(), rmse, placeholder);
    EXPECT_LT(rmse, placeholder);
    const auto bound = bounds.find(name);
    if (bound == bounds.end()) {
      ADD_FAILURE() << "no stored bound; row: " << test::BoundRow("placeholder", name, rmse);
      continue;
    }
    EXPECT_LE(rmse, bound->second) << "row at today's value: " << test::BoundRow("placeholder", name, rmse);
    ++compared;
  }
  EXPECT_EQ(compared, 9);
  EXPECT_EQ(bounds.size(), 9u);
}

// The count the confined decoder's limits are sized by, read without the
// records, is the number of records the full reader finds, in the layer info
// and in the 16- and 32-bit blocks alike.
TEST(CorpusLayers, TheDeclaredLayerCountIsTheNumberOfRecordsRead) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  int counted = 0;
  for (const char* real : {"yes", "no"}) {
    for (const std::string& name : LayeredFiles(real)) {
      const std::vector<std::uint8_t> bytes = ReadAll(test::CorpusPath("psd/" + name));
      const PsdHeaderCheck check = CheckPsdHeader(bytes);
      if (!check.ok) continue;
      const PsdLayers layers = ReadPsdLayers(bytes, check.header);
      if (layers.layers.empty()) continue;
      const auto read = [&bytes](std::uint64_t offset, void* out, std::size_t size) {
        if (offset > bytes.size() || size > bytes.size() - offset) return false;
        std::copy_n(bytes.data() + offset, size, static_cast<std::uint8_t*>(out));
        return true;
      };
      EXPECT_EQ(CountPsdLayers(bytes.size(), read, check.header), layers.layers.size()) << name;
      ++counted;
    }
  }
  EXPECT_GT(counted, 30);
}

// The same layers saved with and without a merged image: rebuilt from its
// layers (type with gradient overlays), the second must give the picture the
// first stores.
TEST(CorpusLayers, ALayeredFileWithoutAMergedImageRebuildsTheOneItsTwinStores) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir temp;
  const std::optional<Reference> twin = PsdToolsReading(test::CorpusPath("psd/oiio_psd_123.psd"), temp);
  ASSERT_TRUE(twin);
  const ImageResult load = LoadPsdSandboxed(test::CorpusPath("psd/oiio_psd_123_nomaxcompat.psd"), 0);
  ASSERT_TRUE(load.image) << load.failure;
  EXPECT_LT(Rmse(Flatten(load.image.get()), twin->merged), 2.0);
}

}  // namespace
}  // namespace kestrel
