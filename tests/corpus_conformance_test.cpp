// Conversions of the shared corpus compared with ImageMagick's reading of the
// same files' composite image.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/bitmap/image.h"
#include "engine/psd/document.h"
#include "engine/psd/resources.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct CorpusFile {
  std::string name;
  std::map<std::string, std::string> manifest;
  std::map<std::string, std::string> behaviour;
};

std::vector<std::map<std::string, std::string>> ReadTsv(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(file, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    if (header.empty()) {
      header = fields;
      continue;
    }
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) row[header[i]] = fields[i];
    rows.push_back(row);
  }
  return rows;
}

std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> files;
  if (!test::CorpusAvailable()) return files;
  std::map<std::string, std::map<std::string, std::string>> behaviour;
  for (auto& row : ReadTsv(test::CorpusPath("psd/BEHAVIOUR.tsv"))) behaviour[row["file"]] = row;
  for (auto& row : ReadTsv(test::CorpusPath("psd/MANIFEST.tsv"))) {
    files.push_back({row["file"], row, behaviour[row["file"]]});
  }
  return files;
}

// RGBA bytes of ImageMagick's reading of a file's composite image.
std::string ImageMagickRgba(const std::string& input, const std::string& output) {
  const std::string command =
      "convert '" + input + "[0]' -depth 8 -alpha on 'rgba:" + output + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  return test::ReadText(output);
}

struct Mismatch {
  long count = 0;
  std::string first;
};

// Compares the colours of the BMP's pixels with ImageMagick's RGBA bytes; only
// pixels that both call fully opaque when onlyOpaque is set. Alpha itself is
// not compared: ImageMagick reads the composite's extra channel of a layered
// document as opaque where the file stores transparency.
Mismatch Compare(FIBITMAP* bmp, const std::string& rgba, bool onlyOpaque) {
  Mismatch mismatch;
  const unsigned width = FreeImage_GetWidth(bmp), height = FreeImage_GetHeight(bmp);
  const unsigned bpp = FreeImage_GetBPP(bmp);
  const RGBQUAD* palette = FreeImage_GetPalette(bmp);
  for (unsigned y = 0; y < height; ++y) {
    // BMP lines run bottom-up; ImageMagick's top-down.
    const BYTE* line = FreeImage_GetScanLine(bmp, static_cast<int>(height - 1 - y));
    for (unsigned x = 0; x < width; ++x) {
      const auto* expected = reinterpret_cast<const unsigned char*>(rgba.data()) + (std::size_t(y) * width + x) * 4;
      int r, g, b, a = 255;
      if (bpp == 8) {
        r = palette[line[x]].rgbRed, g = palette[line[x]].rgbGreen, b = palette[line[x]].rgbBlue;
      } else {
        const BYTE* p = line + x * (bpp / 8);
        b = p[FI_RGBA_BLUE], g = p[FI_RGBA_GREEN], r = p[FI_RGBA_RED];
        if (bpp == 32) a = p[FI_RGBA_ALPHA];
      }
      if (onlyOpaque && (expected[3] != 255 || a != 255)) continue;
      const bool same = r == expected[0] && g == expected[1] && b == expected[2];
      if (!same) {
        if (mismatch.count++ == 0) {
          std::ostringstream text;
          text << "at " << x << "," << y << " got " << r << "," << g << "," << b << "," << a << " want "
               << int(expected[0]) << "," << int(expected[1]) << "," << int(expected[2]) << ","
               << int(expected[3]);
          mismatch.first = text.str();
        }
      }
    }
  }
  return mismatch;
}

TEST(CorpusConformance, EightBitRgbRgbaAndGreyEqualImageMagick) {
  const auto files = CorpusFiles();
  KESTREL_REQUIRE_CORPUS(!files.empty());
  int compared = 0;
  for (const auto& file : files) {
    const auto& m = file.manifest;
    const bool eightBit = m.at("depth") == "8" && (m.at("color_mode") == "RGB" || m.at("color_mode") == "Grayscale");
    const bool loads = file.behaviour.count("freeimage_result") && file.behaviour.at("freeimage_result") != "LOAD_FAILED";
    // Files named bad_ are hostile; the hostile-input tests cover them.
    // Only ".psd" files are taken as input.
    const bool psd = file.name.size() > 4 && file.name.compare(file.name.size() - 4, 4, ".psd") == 0;
    if (!eightBit || !loads || !psd || file.name.rfind("bad_", 0) == 0) continue;
    SCOPED_TRACE(file.name);
    test::TempDir dir;
    const std::string input = test::CorpusPath("psd/" + file.name);
    const auto run = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string base = file.name.substr(0, file.name.rfind('.'));
    ImagePtr bmp = Adopt(FreeImage_Load(FIF_BMP, dir.File(base + ".bmp").c_str(), 0));
    ASSERT_TRUE(bmp);
    const std::string rgba = ImageMagickRgba(input, dir.File("im.rgba"));
    if (rgba.empty()) continue;  // ImageMagick cannot read it
    ASSERT_EQ(rgba.size(), std::size_t(FreeImage_GetWidth(bmp.get())) * FreeImage_GetHeight(bmp.get()) * 4);
    // Where the file's stored composite is only a placeholder, ImageMagick
    // merges the layers itself; and it removes the white matte that the
    // composite of a transparent document carries. Opaque pixels agree.
    const bool exact = file.behaviour.at("fi_vs_im_rgb_rmse") == "0.0000";
    const bool placeholder = m.at("has_real_merged_data") == "no";
    if (placeholder) continue;
    // A file with an embedded profile is shown through it, which ImageMagick
    // does not do; the fidelity test compares those with psd-tools.
    const std::string bytes = test::ReadText(input);
    const std::span fileBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const PsdHeaderCheck check = CheckPsdHeader(fileBytes);
    if (check.ok && !ReadPsdDocument(fileBytes, check.header).resources.iccProfile.empty()) continue;
    // Transparent pixels differ by the white matte, which both take off in their own rounding.
    const Mismatch mismatch = Compare(bmp.get(), rgba, !exact || FreeImage_GetBPP(bmp.get()) == 32);
    EXPECT_EQ(mismatch.count, 0) << mismatch.first;
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

}  // namespace
}  // namespace kestrel
