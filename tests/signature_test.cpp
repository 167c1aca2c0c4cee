#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "engine/decode/signature.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::TempDir;

struct SignatureCase {
  const char* name;
  std::string bytes;
  const char* expected;
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.name; }

class Signatures : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(Signatures, NameTheFileFromItsFirstBytes) {
  TempDir dir;
  const std::string path = dir.File("f.bin");
  test::WriteText(path, GetParam().bytes);
  EXPECT_EQ(DetectFileSignature(path), GetParam().expected);
}

using namespace std::string_literals;

const SignatureCase kSignatureCases[] = {
    {"Photoshop", "8BPS\x00\x01\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x04\x00\x00\x00\x04"s, "PSD"},
    {"BmpOfTwoBytes", "BM", "BMP"},
    {"LongerEntriesNeedTheirBytes", "BPG", "[ERROR] UNRECOGNIZED"},
    {"Gzip", "\x1F\x8B\x08\x00"s, "GZ"},
    {"MpegAudio", "\xFF\xFB\x90\x00"s, "MP3"},
    {"UnknownJpegMarker", "\xFF\xD8\xFF\xE2\x00\x10"s, "[ERROR] UNRECOGNIZED"},
    {"JpegExifSkipsTheLength", "\xFF\xD8\xFF\xE1\x12\x34" "Exif\x00\x00"s, "JPEG/EXIF"},
    {"JpegExifCutShort", "\xFF\xD8\xFF\xE1\x12\x34" "Exif\x00"s, "[ERROR] UNRECOGNIZED"},
    {"RiffWave", "RIFF\x24\x08\x00\x00WAVEfmt "s, "WAV"},
    {"RiffWebp", "RIFF\xFF\xFF\xFF\xFFWEBPVP8 "s, "WEBP"},
    {"RiffOther", "RIFF\x00\x00\x00\x00XXXX"s, "[ERROR] UNRECOGNIZED"},
    {"Id3Tag", "ID3\x04\x00"s, "MP3/ID3V2"},
    {"FlashVideo", "FLV\x01"s, "FLV"},
    {"LastMatchWinsCr2", "II*\x00\x10\x00\x00\x00" "CR\x02\x00"s, "CR2"},
    {"PlainLittleEndianTiff", "II*\x00\x08\x00\x00\x00"s, "TIFF (LE)"},
    {"BigEndianTiff", "MM\x00*\x00\x00\x00\x08"s, "TIFF (BE)"},
    {"Rar5", "Rar!\x1A\x07\x01\x00"s, "RAR (5.0+)"},
    {"Rar4", "Rar!\x1A\x07\x00\xCF"s, "RAR (1.5+)"},
    {"SixteenByteSqlite", "SQLite format 3\x00"s, "SQLITE/DB"},
    {"SqliteOneByteShort", "SQLite format 3", "[ERROR] UNRECOGNIZED"},
    {"AsfGuid", "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C\x00"s, "ASF/WMA/WMV"},
    {"DjvuWithWildcards", "AT&TFORM\x00\x00\x12\x34" "DJVM"s, "DJVU"},
    {"Png", "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"s, "PNG"},
    {"HighFirstByte", "\xD7\xCD\xC6\x9A"s, "WMF"},
    {"NoGroupForTheFirstByte", "hello world", "[ERROR] UNRECOGNIZED"},
    {"EmptyFile", "", "[ERROR] UNRECOGNIZED"},
};

INSTANTIATE_TEST_SUITE_P(FileStarts, Signatures, ::testing::ValuesIn(kSignatureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SignatureOfNonFiles, AreUnrecognisedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo.psd").c_str(), 0644), 0);
  for (const std::string& path : {dir.File("missing.psd"), dir.Path(), dir.File("fifo.psd"), std::string()}) {
    EXPECT_EQ(DetectFileSignature(path), "[ERROR] UNRECOGNIZED") << path;
  }
}

TEST(SignatureTrace, DebugRunNamesTheInputFormat) {
  TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "x.psd", "rgb8", 4, 4);
  const auto lines = test::RunKestrel({"-d", "-i", input}).Lines();
  const auto processing = std::find(lines.begin(), lines.end(), "Processing: " + input);
  ASSERT_NE(processing, lines.end());
  ASSERT_NE(processing + 1, lines.end());
  EXPECT_EQ(processing[1], "File Format: PSD");
}

}  // namespace
}  // namespace kestrel
