// --info: a file's facts without converting it, as text and as JSON, and the
// record in which the confined child hands them over.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/decode/file_facts.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::RunKestrel;
using Json = nlohmann::json;

Json ParsedOutput(const test::RunResult& run) {
  Json json = Json::parse(run.out, nullptr, false);
  EXPECT_FALSE(json.is_discarded()) << run.out;
  return json;
}

TEST(Info, JsonOfOneFileIsOneObjectWithItsFacts) {
  test::TempDir dir;
  struct Case {
    const char* kind;
    const char* mode;
    int depth;
    int channels;
    std::vector<std::string> extra;
  };
  const Case cases[] = {
      {"rgb8", "RGB", 8, 3, {}},
      {"rgba8", "RGB", 8, 4, {"transparency"}},
      {"grey16", "Greyscale", 16, 1, {}},
      {"indexed8", "Indexed", 8, 1, {}},
  };
  for (const Case& c : cases) {
    const std::string input = test::MakePsd(dir.Path(), std::string(c.kind) + ".psd", c.kind, 21, 13);
    const auto run = RunKestrel({"-q", "--info=json", "-i", input});
    EXPECT_EQ(run.exitCode, 0) << c.kind << run.err;
    const Json json = ParsedOutput(run);
    ASSERT_TRUE(json.is_object()) << c.kind;
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["file"], input);
    EXPECT_EQ(json["format"], "PSD");
    EXPECT_EQ(json["width"], 21);
    EXPECT_EQ(json["height"], 13);
    EXPECT_EQ(json["colour_mode"], c.mode) << c.kind;
    EXPECT_EQ(json["depth"], c.depth) << c.kind;
    EXPECT_EQ(json["channels"], c.channels) << c.kind;
    std::vector<std::string> extra;
    for (const Json& channel : json["extra_channels"]) extra.push_back(channel["kind"]);
    EXPECT_EQ(extra, c.extra) << c.kind;
    EXPECT_EQ(json["conversion"]["picture"], "merged image");
    EXPECT_TRUE(json["layers"].is_array());
    EXPECT_FALSE(json.contains("error"));
  }
}

TEST(Info, SeveralFilesMakeAnArrayAndADamagedOneAnErrorObject) {
  test::TempDir dir;
  const std::string good = test::MakePsd(dir.Path(), "good.psd", "rgb8", 4, 4);
  test::WriteText(dir.File("damaged.psd"), "8BPS this is no header");
  const auto run = RunKestrel({"-q", "--info=json", "--input-folder=" + dir.Path()});
  EXPECT_EQ(run.exitCode, 1);
  const Json json = ParsedOutput(run);
  ASSERT_TRUE(json.is_array());
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["file"], dir.File("damaged.psd"));
  EXPECT_EQ(json[0]["version"], 1);
  EXPECT_TRUE(json[0]["error"]["message"].is_string());
  EXPECT_FALSE(json[0].contains("width"));
  EXPECT_EQ(json[1]["file"], good);
  EXPECT_EQ(json[1]["width"], 4);
}

TEST(Info, TextIsForPeopleAndTheBannerGoesToStandardError) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgba8", 5, 3);
  const auto run = RunKestrel({"--info", "-i", input});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const auto lines = run.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], input + ": PSD, 5 x 3, RGB, 8 bits per channel, 4 channels");
  EXPECT_EQ(lines[1], "  channel 3: transparency");
  EXPECT_TRUE(run.HasLine("  conversion: the stored merged image"));
  EXPECT_NE(run.err.find("Tessaline PSD to BMP"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.bmp")));
}

TEST(Info, StandardInputIsNamedStdin) {
  test::TempDir dir;
  const std::string input = test::MakePsd(dir.Path(), "a.psd", "rgb8", 6, 2);
  const auto run = RunKestrel({"-q", "--info=json", "-i", "-"}, test::WithInput(test::ReadText(input)));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const Json json = ParsedOutput(run);
  EXPECT_EQ(json["file"], "stdin");
  EXPECT_EQ(json["width"], 6);
}

TEST(Info, AnUnknownFormIsAUsageError) {
  const auto run = RunKestrel({"-q", "-i", "a.psd", "--info=yaml"});
  EXPECT_EQ(run.exitCode, 2);
  // Found while the arguments are read, before the form is known: on standard output, as every such error.
  EXPECT_EQ(run.out, "Error: Invalid info form (--info or --info=json)\n");
}

// The record through a pipe's stand-in: the bytes the child would write.
std::string RecordOf(const FileFacts& facts) {
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  EXPECT_TRUE(WriteFileFacts(ends[1], facts));
  ::close(ends[1]);
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
  return bytes;
}

RecordSource SourceOf(const std::string& bytes) {
  auto at = std::make_shared<std::size_t>(0);
  return [&bytes, at](void* out, std::size_t size) {
    if (bytes.size() - *at < size) return false;
    std::memcpy(out, bytes.data() + *at, size);
    *at += size;
    return true;
  };
}

FileFacts SampleFacts() {
  FileFacts facts;
  facts.format = "PSB";
  facts.width = 300000;
  facts.height = 2;
  facts.colourMode = "CMYK";
  facts.depth = 16;
  facts.channels = 6;
  facts.extraChannels = {{4, "transparency", ""}, {5, "spot", "PANTONE 123"}};
  facts.resolutionX = 300;
  facts.resolutionY = 150.5;
  facts.hasProfile = true;
  facts.profile = "Coated FOGRA39";
  facts.realMergedImage = false;
  LayerFacts layer;
  layer.index = 3;
  layer.parent = 7;
  layer.name = "Schicht \xC3\xBC";
  layer.kind = "shape";
  layer.blendMode = "mul ";
  layer.opacity = 128;
  layer.fillOpacity = 0;
  layer.visible = false;
  layer.clipping = true;
  layer.mask = "disabled";
  layer.effectsEnabled = true;
  layer.effects = {{"stroke", true, false}, {"colour overlay", false, true}};
  layer.top = -5;
  layer.right = 9;
  facts.layers = {layer};
  facts.picture = "layers";
  facts.notDrawn = {"layer 3: the stroke effect"};
  return facts;
}

TEST(FactsRecord, RoundTripsEveryField) {
  const std::string bytes = RecordOf(SampleFacts());
  const auto read = ReadFileFacts(SourceOf(bytes));
  ASSERT_TRUE(read.has_value());
  // Written again, the facts read back give the same bytes: every field came through.
  EXPECT_EQ(RecordOf(*read), bytes);
  EXPECT_EQ(read->layers.at(0).name, "Schicht \xC3\xBC");
  EXPECT_EQ(read->extraChannels.at(1).name, "PANTONE 123");
}

TEST(FactsRecord, ARecordCutShortAnywhereIsRefused) {
  const std::string bytes = RecordOf(SampleFacts());
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    std::string cut = bytes.substr(0, size);
    // The declared length is kept honest, so the reader meets the end inside the fields.
    if (size >= 4) {
      const auto length = static_cast<std::uint32_t>(size - 4);
      std::memcpy(cut.data(), &length, sizeof length);
    }
    EXPECT_FALSE(ReadFileFacts(SourceOf(cut)).has_value()) << size;
  }
}

TEST(FactsRecord, CountsAndLengthsBeyondTheRecordAreRefused) {
  std::string bytes = RecordOf(SampleFacts());
  // The first field is the format's length: claim more than the record holds.
  const std::int64_t huge = std::int64_t{1} << 40;
  std::memcpy(bytes.data() + 4, &huge, sizeof huge);
  EXPECT_FALSE(ReadFileFacts(SourceOf(bytes)).has_value());
  std::string tooLong(4, '\0');
  const std::uint32_t length = kMaxFactsBytes + 1;
  std::memcpy(tooLong.data(), &length, sizeof length);
  EXPECT_FALSE(ReadFileFacts(SourceOf(tooLong)).has_value());
}

TEST(FactsRecord, ControlCharactersInNamesCannotBreakALine) {
  FileFacts facts = SampleFacts();
  facts.layers.at(0).name = "evil\nkestrel: forged\x1b[2J";
  const auto read = ReadFileFacts(SourceOf(RecordOf(facts)));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->layers.at(0).name.find_first_of("\n\x1b"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
