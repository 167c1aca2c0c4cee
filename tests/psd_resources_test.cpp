// The image resource reader: the blocks it keeps, and damage it survives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/psd/document.h"
#include "engine/psd/resources.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Big(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One resource block: signature, id, Pascal name padded to even, size, data padded to even.
void Block(Bytes& out, std::uint16_t id, const Bytes& data, const std::string& name = "",
           const char* signature = "8BIM") {
  out.insert(out.end(), signature, signature + 4);
  Big(out, id, 2);
  out.push_back(static_cast<std::uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  if ((name.size() + 1) % 2 == 1) out.push_back(0);
  Big(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2 == 1) out.push_back(0);
}

Bytes VersionInfo(bool hasRealMergedData) {
  Bytes data;
  Big(data, 1, 4);
  data.push_back(hasRealMergedData ? 1 : 0);
  Big(data, 0, 4);  // writer name, empty
  Big(data, 0, 4);  // reader name, empty
  Big(data, 1, 4);
  return data;
}

Bytes UnicodeNames(const std::vector<std::u16string>& names) {
  Bytes data;
  for (const auto& name : names) {
    Big(data, name.size() + 1, 4);
    for (char16_t c : name) Big(data, c, 2);
    Big(data, 0, 2);
  }
  return data;
}

TEST(PsdResources, KeepsTheBlocksThatChangeThePicture) {
  Bytes section;
  Block(section, kPsdResourceVersionInfo, VersionInfo(false), "odd");
  Block(section, kPsdResourceIccProfile, Bytes{1, 2, 3});
  Block(section, kPsdResourceAlphaIdentifiers, Bytes{0, 0, 0, 0, 0, 0, 0, 7});
  Block(section, kPsdResourceAlphaNames, Bytes{5, 'A', 'l', 'p', 'h', 'a', 3, 'S', 'e', 'l'});
  Block(section, kPsdResourceUnicodeAlphaNames, UnicodeNames({u"Transparency", u"Auswahl \u00e4"}));
  Bytes display;
  Big(display, 1, 4);  // version
  for (int kind : {0, 2}) {
    display.insert(display.end(), 10, 0);  // colour space and colour
    Big(display, 50, 2);
    display.push_back(static_cast<std::uint8_t>(kind));
  }
  Block(section, kPsdResourceDisplayInfo, display);
  Block(section, 1000, Bytes{9, 9, 9}, "", "MeSa");  // another writer's block is skipped

  const PsdResources read = ReadPsdResources(section);
  EXPECT_TRUE(read.readable);
  ASSERT_TRUE(read.hasRealMergedData.has_value());
  EXPECT_FALSE(*read.hasRealMergedData);
  EXPECT_EQ(read.iccProfile, (Bytes{1, 2, 3}));
  EXPECT_EQ(read.alphaIdentifiers, (std::vector<std::uint32_t>{0, 7}));
  EXPECT_EQ(read.alphaNames, (std::vector<std::string>{"Transparency", "Auswahl \xc3\xa4"}));
  ASSERT_EQ(read.channelDisplay.size(), 2u);
  EXPECT_EQ(read.channelDisplay[0].kind, 0);
  EXPECT_EQ(read.channelDisplay[1].kind, 2);
  EXPECT_EQ(read.channelDisplay[1].opacity, 50);
}

TEST(PsdResources, DamageKeepsWhatCameBeforeIt) {
  Bytes section;
  Block(section, kPsdResourceVersionInfo, VersionInfo(true));
  const Bytes whole = section;
  Block(section, kPsdResourceIccProfile, Bytes(40, 1));
  for (std::size_t cut = whole.size() + 1; cut < section.size(); ++cut) {
    const PsdResources read = ReadPsdResources(std::span(section).first(cut));
    EXPECT_FALSE(read.readable) << cut;
    EXPECT_EQ(read.hasRealMergedData, std::optional<bool>(true)) << cut;
    EXPECT_TRUE(read.iccProfile.empty()) << cut;
  }
  // A size far past the end, and a truncated Unicode name, read nothing out of bounds.
  Bytes huge;
  Block(huge, kPsdResourceUnicodeAlphaNames, Bytes{0xFF, 0xFF, 0xFF, 0xF0, 0, 'a'});
  EXPECT_TRUE(ReadPsdResources(huge).alphaNames.empty());
  huge[10] = 0x7F;
  EXPECT_FALSE(ReadPsdResources(huge).readable);
  EXPECT_FALSE(ReadPsdResources(Bytes{}).hasRealMergedData.has_value());
}

TEST(PsdResources, TheHeaderCheckLocatesTheSectionAndTheDocumentReadsIt) {
  Bytes file = {'8', 'B', 'P', 'S'};
  Big(file, 1, 2);  // version
  file.resize(12, 0);
  Big(file, 1, 2);  // one channel, 1 x 1 pixels, 8 bits, greyscale
  Big(file, 1, 4);
  Big(file, 1, 4);
  Big(file, 8, 2);
  Big(file, kPsdModeGreyscale, 2);
  Big(file, 2, 4);  // colour mode data of two bytes
  Big(file, 0, 2);
  Bytes section;
  Block(section, kPsdResourceVersionInfo, VersionInfo(true));
  const std::size_t lengthAt = file.size();
  Big(file, section.size(), 4);
  file.insert(file.end(), section.begin(), section.end());
  Big(file, 0, 4);  // no layer section
  Big(file, 0, 2);  // raw image data: one sample
  file.push_back(0x80);
  const PsdHeaderCheck check = CheckPsdHeader(file);
  ASSERT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.header.resourcesOffset, lengthAt + 4);
  EXPECT_EQ(check.header.resourcesLength, section.size());
  EXPECT_EQ(ReadPsdDocument(file, check.header).resources.hasRealMergedData, std::optional<bool>(true));
  file[lengthAt + 1] = 0xFF;  // the section length runs past the end
  EXPECT_EQ(CheckPsdHeader(file).problem, "damaged Photoshop file: the image resources run past the end of the file");
}

}  // namespace
}  // namespace kestrel
