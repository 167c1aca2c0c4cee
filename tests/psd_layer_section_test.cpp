// The layer section walked once for every reader: in a large document (PSB)
// some blocks carry 8-byte lengths, and a walk that reads one of them as 4
// bytes loses every block after it.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdint>
#include <vector>

#include "engine/decode/merged_image.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_section.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Big(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Block(Bytes& out, const char* key, const Bytes& data, int lengthBytes) {
  out.insert(out.end(), {'8', 'B', 'I', 'M'});
  out.insert(out.end(), key, key + 4);
  Big(out, data.size(), lengthBytes);
  out.insert(out.end(), data.begin(), data.end());
}

// A 2 x 1 RGB PSB with a fourth channel that its alpha identifier (1) calls
// a saved selection, and a layer section without layers whose tagged blocks
// are `key` (12 bytes of data, its length `keyLength` bytes wide) then a
// merged-transparency block: the fourth channel is the picture's transparency.
Bytes TransparentPsb(const char* key, int keyLength) {
  Bytes out = {'8', 'B', 'P', 'S'};
  Big(out, 2, 2);  // PSB
  Big(out, 0, 6);
  Big(out, 4, 2);
  Big(out, 1, 4);  // height
  Big(out, 2, 4);  // width
  Big(out, 8, 2);
  Big(out, 3, 2);  // RGB
  Big(out, 0, 4);  // colour mode data
  Bytes resources = {'8', 'B', 'I', 'M'};
  Big(resources, 1053, 2);  // alpha identifiers
  Big(resources, 0, 2);
  Big(resources, 4, 4);
  Big(resources, 1, 4);
  Big(out, resources.size(), 4);
  out.insert(out.end(), resources.begin(), resources.end());
  Bytes section;
  Big(section, 0, 8);  // no layer info
  Big(section, 0, 4);  // no global mask
  Block(section, key, Bytes(12, 0x5A), keyLength);
  Block(section, "Mtrn", {}, 8);
  Big(out, section.size(), 8);
  out.insert(out.end(), section.begin(), section.end());
  Big(out, 0, 2);  // raw
  // Red, green, blue, transparency; colours matted against white, as Photoshop stores them.
  out.insert(out.end(), {255, 255, 255, 255, 255, 255, 0, 255});
  return out;
}

TEST(LayerSection, EveryWideBlockOfAPsbIsSteppedOverWholeBeforeTheTransparencyMark) {
  // Photoshop's PSB blocks with 8-byte lengths, among them the ones the
  // transparency walk once read as 4 bytes (lnkE, pths, extd, exPr, cinf, artd, lnk3).
  for (const char* key : {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Alph", "FMsk", "lnk2", "FEid", "FXid",
                          "PxSD", "lnkE", "pths", "extd", "exPr", "cinf", "artd", "lnk3"}) {
    const Bytes file = TransparentPsb(key, 8);
    const PsdHeaderCheck check = CheckPsdHeader(file);
    ASSERT_TRUE(check.ok) << check.problem;
    const PsdDocument document = ReadPsdDocument(file, check.header);
    EXPECT_EQ(document.transparencyChannel, 3) << key;
    const ImagePtr image = DecodeMergedImage(document);
    ASSERT_TRUE(image) << key;
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u) << key;
    const BYTE* line = FreeImage_GetScanLine(image.get(), 0);
    EXPECT_EQ(line[FI_RGBA_ALPHA], 0) << key;
    EXPECT_EQ(line[4 + FI_RGBA_ALPHA], 255) << key;
  }
}

TEST(LayerSection, ABlockWithAFourByteLengthIsReadAsSuch) {
  // An ordinary key keeps its 4-byte length in a PSB.
  const Bytes file = TransparentPsb("luni", 4);
  const PsdHeaderCheck check = CheckPsdHeader(file);
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_TRUE(WalkLayerSection(ByteReader(std::span(file)), check.header).marksTransparency);
}

}  // namespace
}  // namespace kestrel
