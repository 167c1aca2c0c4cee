// The layer compositor against Photoshop's own merged image: every corpus file
// with layers and a real merged image is composited from its layers and
// compared, flattened onto white, with the merged image as psd-tools reads it.
// psd-tools' compositor runs alongside; kestrel must stay within RMSE 2 of the
// stored picture wherever psd-tools does, and never be further off than it.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/composite/compositor.h"
#include "engine/psd/document.h"
#include "engine/decode/merged_image.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "engine/decode/confined_psd.h"
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

TEST(CorpusLayers, CompositeMatchesTheStoredMergedImageAsCloselyAsAnIndependentCompositor) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir temp;
  int compared = 0;
  for (const std::string& name : LayeredFiles("yes")) {
    const std::string path = test::CorpusPath("psd/" + name);
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    const LayerComposite ours = Composite(bytes);
    if (!ours.image) {
      std::cout << name << ": not composited (" << ours.problem << ")\n";
      continue;
    }
    const std::optional<Reference> theirs = PsdToolsReading(path, temp);
    if (!theirs) {
      std::cout << name << ": psd-tools cannot read it\n";
      continue;
    }
    // The stored merged image is taken as the program shows it, through the
    // file's profile and colour conversion, so that the rebuilt picture must
    // go through the same one; psd-tools' distance stays in its own samples.
    // (Float files stay linear light until the steps after decoding.)
    const PsdHeader header = CheckPsdHeader(bytes).header;
    const PsdDocument document = ReadPsdDocument(bytes, header);
    const bool converted = header.depth != 32 && DecodesMergedImage(document);
    const ImagePtr decoded = converted ? DecodeMergedImage(document) : nullptr;
    ASSERT_TRUE(!converted || decoded) << name;
    const double kestrel = Rmse(Flatten(ours.image.get()), converted ? Flatten(decoded.get()) : theirs->merged);
    const double reference = Rmse(theirs->composite, theirs->merged);
    std::printf("%-40s layers %3d  kestrel %7.2f  psd-tools %7.2f\n", name.c_str(), ours.layersDrawn, kestrel,
                reference);
    EXPECT_LE(kestrel, std::max(2.0, reference + 0.05)) << name;
    ++compared;
  }
  EXPECT_GT(compared, 20);
}

// A file whose merged image is a placeholder loads, through the confined
// decoder, as its layers composited: as psd-tools composites them.
TEST(CorpusLayers, PlaceholderMergedImagesAreReplacedByTheLayers) {
  KESTREL_REQUIRE_CORPUS(test::CorpusAvailable());
  test::TempDir temp;
  int compared = 0;
  for (const std::string& name : LayeredFiles("no")) {
    const std::string path = test::CorpusPath("psd/" + name);
    const ImageResult load = LoadPsdSandboxed(path, 0);
    ASSERT_TRUE(load.image) << name << ": " << load.failure;
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    const LayerComposite counts = Composite(bytes);
    const PsdLayers layers = ReadPsdLayers(bytes, CheckPsdHeader(bytes).header);
    const bool styled = std::any_of(layers.layers.begin(), layers.layers.end(),
                                    [](const PsdLayer& layer) { return layer.hasEffects; });
    const std::optional<Reference> theirs = PsdToolsReading(path, temp);
    ASSERT_TRUE(theirs) << name;
    const double rmse = Rmse(Flatten(load.image.get()), theirs->composite);
    const double placeholder = Rmse(theirs->merged, theirs->composite);
    std::printf("%-40s kestrel %7.2f  stored placeholder %7.2f\n", name.c_str(), rmse, placeholder);
    // psd-tools draws layer styles its own way and leaves some out: a file
    // with any (or with layers kestrel leaves out) only has to beat its placeholder.
    if (!styled && counts.effectsSkipped == 0 && counts.adjustmentsSkipped == 0) EXPECT_LT(rmse, 2.0) << name;
    else EXPECT_LT(rmse, placeholder) << name;
    ++compared;
  }
  EXPECT_EQ(compared, 9);
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
