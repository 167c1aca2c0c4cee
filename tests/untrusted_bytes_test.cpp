// The one reader of untrusted bytes, the UTF-16 decoder the parsers share,
// and untrusted text made one line for the user.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace kestrel {
namespace {

const std::vector<std::uint8_t> kBytes = {'8', 'B', 'I', 'M', 0x01, 0x02, 0xFF, 0xFE, 0x00, 0x00, 0x00, 0x05};

TEST(ByteReader, AReadPastTheEndFailsForGoodAndGivesZeros) {
  const ByteSource source = SourceOf(kBytes);
  for (ByteReader in : {ByteReader(kBytes), ByteReader(source, kBytes.size())}) {
    EXPECT_EQ(in.Code(), FourCC("8BIM"));
    EXPECT_EQ(in.U16(), 0x0102);
    EXPECT_EQ(in.Int16(), -2);
    ByteReader inner = in.Take(4);
    EXPECT_EQ(inner.U32(), 5u);
    EXPECT_TRUE(inner.Ok());
    EXPECT_EQ(inner.Byte(), 0);  // past the taken four bytes
    EXPECT_FALSE(inner.Ok());
    EXPECT_TRUE(in.Ok());
    EXPECT_EQ(in.Left(), 0u);
    in.Skip(1);
    EXPECT_FALSE(in.Ok());
    EXPECT_EQ(in.Range(4, 2).U16(), 0x0102) << "a range is read wherever the reader stands";
  }
}

TEST(ByteReader, TakingMoreThanIsLeftFailsBothReaders) {
  ByteReader in(kBytes);
  in.Skip(8);
  ByteReader inner = in.Take(5);
  EXPECT_FALSE(inner.Ok());
  EXPECT_FALSE(in.Ok());
  EXPECT_FALSE(ByteReader(kBytes).Range(10, 3).Ok());
  // Bytes in place exist only for a reader over memory.
  const ByteSource source = SourceOf(kBytes);
  ByteReader positional(source, kBytes.size());
  EXPECT_TRUE(positional.Bytes(2).empty());
  EXPECT_FALSE(positional.Ok());
}

TEST(Utf16, BigEndianTextEndsAtItsNulAndUnpairedSurrogatesAreReplaced) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string text;
  };
  const Case cases[] = {
      {{0x00, 'L', 0x00, 'a', 0x00, 'y'}, "Lay"},
      {{0x00, 'A', 0x00, 0x00, 0x00, 'B'}, "A"},                        // a NUL ends the text
      {{0xD8, 0x3D, 0xDE, 0x00}, "\xF0\x9F\x98\x80"},                   // a pair: U+1F600
      {{0xD8, 0x3D, 0x00, 'x'}, "\xEF\xBF\xBDx"},                       // a high surrogate alone
      {{0xDE, 0x00}, "\xEF\xBF\xBD"},                                   // a low surrogate alone
      {{0x00, 0xE9, 0x00}, "\xC3\xA9"},                                 // an odd byte at the end is dropped
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8FromUtf16BigEndian(c.bytes), c.text);
}

TEST(UntrustedText, BecomesOneValidLine) {
  struct Case {
    std::string bytes;
    std::string line;
  };
  const Case cases[] = {
      {"layer \"Sky\"", "layer \"Sky\""},
      {"a\nkestrel: forged", "a kestrel: forged"},                 // a line end cannot start a line of its own
      {"bell\a\x1b[31mred\x7f", "bell  [31mred "},                 // nor can escapes colour a terminal
      {std::string("nul\0end", 7), "nul end"},
      {"caf\xC3", "caf\xEF\xBF\xBD"},                              // a cut character becomes U+FFFD
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(OneLineOfText(c.bytes), c.line);
}

// The forms GNU ls --quoting-style=shell-escape prints: a shell reads each back as the name.
TEST(UntrustedText, FileNamesWithControlCharactersAreQuotedOnOneLine) {
  struct Case {
    std::string name;
    std::string quoted;
  };
  const Case cases[] = {
      {"/in/plain name.psd", "/in/plain name.psd"},  // nothing to escape: as it is
      {"/in/it's.psd", "/in/it's.psd"},
      {"/in/a\nb.psd", R"('/in/a'$'\n''b.psd')"},
      {"a\tit's\r.psd", R"('a'$'\t''it'\''s'$'\r''.psd')"},
      {"\x1b[1m\x7f\x01.psd", R"(''$'\033''[1m'$'\177\001''.psd')"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QuotedFileName(c.name), c.quoted);
    EXPECT_EQ(QuotedFileName(c.name).find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel
