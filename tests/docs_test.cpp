// The manual, the completion and the installed program agree with the
// settings table: no option exists without its documentation.
#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <set>

#include "model/keywords.h"
#include "platform/text.h"
#include "model/settings.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

std::string Roff(std::string_view text) {
  std::string escaped;
  for (char c : text) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
  return escaped;
}

// The text between a section heading and the next one.
std::string Section(const std::string& page, const std::string& heading) {
  const auto start = page.find(".SH " + heading);
  if (start == std::string::npos) return {};
  const auto end = page.find("\n.SH ", start + 1);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The paragraph of one option entry in the OPTIONS section.
std::string Entry(const std::string& options, const std::string& head) {
  const auto start = options.find(head);
  if (start == std::string::npos) return {};
  const auto end = options.find("\n.TP", start);
  return options.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class Documentation : public ::testing::Test {
 protected:
  std::string page = test::ReadText(test::SourcePath("docs/kestrel.1"));
  std::string options = Section(page, "OPTIONS");
};

TEST_F(Documentation, EveryOptionHasAnEntryWithItsKeywords) {
  for (const auto& row : SettingRows()) {
    if (row.optionName.empty()) continue;
    const std::string name = Roff(LowerCase(row.optionName));
    const bool isSwitch = row.option == OptionClass::Switch || row.option == OptionClass::SwitchClear;
    const std::string entry = Entry(options, isSwitch ? ".B " + name + "\n" : ".BI " + name + "= ");
    ASSERT_FALSE(entry.empty()) << row.optionName;
    if (row.option == OptionClass::Keyword && row.keywordSet != KeywordSet::Compression) {
      for (auto keyword : KeywordsOf(row.keywordSet)) {
        EXPECT_NE(entry.find(std::string(keyword)), std::string::npos) << row.optionName << " " << keyword;
      }
    }
  }
}

// A range reads "<low> to <high>" in the option's entry, as the row gives it.
TEST_F(Documentation, EveryRangedOptionStatesItsRange) {
  auto number = [](double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
  };
  for (const auto& row : SettingRows()) {
    if (!row.range || row.optionName.empty()) continue;
    const std::string entry = Entry(options, ".BI " + Roff(LowerCase(row.optionName)) + "= ");
    const std::string range = Roff(number(row.range->low) + " to " + number(row.range->high));
    EXPECT_NE(entry.find(range), std::string::npos) << row.optionName << " should state " << range;
  }
}

TEST_F(Documentation, NoEntryWithoutAnOption) {
  std::set<std::string> known = {"input",      "output",     "conversion",  "profile", "debug",  "quiet", "pause",
                                 "help",       "version",    "input-folder", "input-list", "input-list0", "jobs",
                                 "update",     "stdout",     "info",
                                 "layer",      "layer-crop", "each-layer"};
  for (const auto& row : SettingRows()) {
    if (!row.optionName.empty()) known.insert(LowerCase(row.optionName.substr(2)));
  }
  // Entry heads: a ".B", ".BI" or ".BR" line whose first word is a long option.
  std::istringstream lines(options);
  for (std::string line; std::getline(lines, line);) {
    const auto space = line.find(' ');
    const std::string macro = line.substr(0, space);
    if ((macro != ".B" && macro != ".BI" && macro != ".BR") || line.compare(space + 1, 4, "\\-\\-") != 0) continue;
    std::string name;
    for (std::size_t i = space + 5; i < line.size();) {
      if (line.compare(i, 2, "\\-") == 0) {
        name += '-';
        i += 2;
      } else if (std::islower(static_cast<unsigned char>(line[i])) || std::isdigit(static_cast<unsigned char>(line[i]))) {
        name += line[i++];
      } else {
        break;
      }
    }
    EXPECT_TRUE(known.count(name)) << "documented but not an option: --" << name;
  }
}

TEST_F(Documentation, EveryProfileKeyIsListed) {
  const std::string profile = Section(page, "PROFILE FILES");
  for (const auto& row : SettingRows()) {
    if (row.profileKey.empty()) continue;
    EXPECT_NE(profile.find(Roff(row.profileKey)), std::string::npos) << row.profileKey;
  }
}

TEST(Completion, OffersOptionsAndKeywords) {
  const std::string script = std::string(KESTREL_BUILD_DIR) + "/docs/kestrel.bash";
  ASSERT_TRUE(std::filesystem::exists(script));
  auto complete = [&](const std::string& line, const std::string& words, int cword) {
    const std::string command = "bash -c 'source \"" + script + "\"; COMP_LINE=\"" + line + "\"; COMP_POINT=${#COMP_LINE}; COMP_WORDS=(" +
                                words + "); COMP_CWORD=" + std::to_string(cword) +
                                "; _kestrel; printf \"%s\\n\" \"${COMPREPLY[@]}\"' 2>/dev/null";
    return test::CommandOutput(command);
  };
  std::string expected;
  for (auto keyword : KeywordsOf(KeywordSet::Dither)) expected += std::string(keyword) + "\n";
  EXPECT_EQ(complete("kestrel --dither=", "kestrel --dither =", 2), expected);
  EXPECT_EQ(complete("kestrel --dither=bay", "kestrel --dither = bay", 3), "BAYER4\nBAYER8\nBAYER16\n");
  const std::string offered = complete("kestrel --fl", "kestrel --fl", 1);
  EXPECT_EQ(offered, "--flip-horizontal\n--flip-vertical\n");
  EXPECT_EQ(complete("kestrel --input-l", "kestrel --input-l", 1), "--input-list=\n--input-list0=\n");
  EXPECT_EQ(complete("kestrel --up", "kestrel --up", 1), "--update\n");
  // Every option of the table is offered.
  const std::string all = complete("kestrel --", "kestrel --", 1);
  for (const auto& row : SettingRows()) {
    if (row.optionName.empty()) continue;
    EXPECT_NE(all.find(LowerCase(row.optionName)), std::string::npos) << row.optionName;
  }
}

TEST(Installation, InstalledProgramRunsFromItsPrefix) {
  test::TempDir prefix, work;
  const std::string install = "cmake --install '" + std::string(KESTREL_BUILD_DIR) + "' --prefix '" + prefix.Path() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0);
  const std::string bin = prefix.File("bin/kestrel");
  ASSERT_TRUE(std::filesystem::exists(bin));
  for (const char* file : {"share/man/man1/kestrel.1", "share/doc/kestrel/kestrel.html",
                           "share/bash-completion/completions/kestrel", "share/applications/kestrel.desktop",
                           "share/icons/hicolor/scalable/apps/kestrel.svg"}) {
    EXPECT_TRUE(std::filesystem::exists(prefix.File(file))) << file;
  }
  const std::string lock = "XDG_RUNTIME_DIR='" + work.Path() + "' ";
  EXPECT_EQ(test::CommandOutput(lock + "'" + bin + "' -v"), "3.0\n");
  EXPECT_NE(test::CommandOutput(lock + "'" + bin + "' --help").find("Usage: kestrel -i <filename> [options]"), std::string::npos);
  const std::string input = test::MakePsd(work.Path(), "in.psd", "rgb8", 8, 8);
  EXPECT_EQ(std::system((lock + "'" + bin + "' -q -i '" + input + "'").c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(work.File("in.bmp")));
  // A frame and a text watermark need the drawing module from the prefix.
  const std::string drawn = lock + "'" + bin + "' -q -i '" + input + "' --fr-solid-left=2 --wm-text=x --filename-mask=drawn";
  EXPECT_EQ(std::system(drawn.c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(work.File("drawn")));
  const std::string man = test::CommandOutput("MANWIDTH=100 man -l '" + prefix.File("share/man/man1/kestrel.1") + "' 2>/dev/null");
  EXPECT_NE(man.find("--wm-text-antialiasing"), std::string::npos);
  EXPECT_EQ(std::system(("desktop-file-validate '" + prefix.File("share/applications/kestrel.desktop") + "'").c_str()), 0);
}

}  // namespace
}  // namespace kestrel
