// The preferences file of the windowed interface: layout, round trip, defaults
// and the migrations of older files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>

#include "platform/files.h"
#include "model/preferences.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

constexpr std::int64_t kNow = 1700000000;

Settings LoadText(const std::string& text) {
  TempDir dir;
  WriteText(dir.File("config.ini"), text);
  Settings settings;
  LoadPreferences(settings, MakeEditionRegistry(), dir.File("config.ini"), kNow);
  return settings;
}

// Every field as text, for comparing whole records.
std::string Describe(const Settings& settings, SettingId id) {
  switch (RowOf(id).kind) {
    case ValueKind::Text:
    case ValueKind::Colour:
      return settings.Text(id);
    case ValueKind::Real:
      return std::to_string(settings.Real(id));
    default:
      return std::to_string(settings.Date(id));
  }
}

TEST(Preferences, SavedFileReadsBackToTheSameSettingsExceptUnwrittenKeys) {
  Settings saved;
  LoadPreferences(saved, MakeEditionRegistry(), "/nonexistent/config.ini", kNow);
  // Non-default values in every kind of field.
  saved.SetText(SettingId::Language, "de");
  saved.SetNumber(SettingId::UpdateDate, 1234567890);
  saved.SetNumber(SettingId::WindowWidth, 812);
  saved.SetNumber(SettingId::WindowX, -20);
  saved.SetNumber(SettingId::JpgQuality, 77);
  saved.SetNumber(SettingId::PngInterlaced, 1);
  saved.SetReal(SettingId::Gamma, 2.25f);
  saved.SetText(SettingId::WmText, "\u00A9 Zoë = 1; [x]");
  saved.SetText(SettingId::RecentOutFolders, "/a/\t/b c/");
  saved.SetNumber(SettingId::DoFrame, 1);
  saved.SetNumber(SettingId::FileTimestampCustom, 42);
  saved.SetText(SettingId::FilenameMask, "%filename%_x.%ext%");
  // Read-only keys: changed here, but the file never carries them.
  saved.SetNumber(SettingId::HidePasswords, 1);
  saved.SetText(SettingId::TxtFields, "a,b");
  saved.SetText(SettingId::CsvDelimiter, ";");

  TempDir dir;
  const std::string path = dir.File("config.ini");
  ASSERT_TRUE(SavePreferences(saved, path));
  Settings loaded;
  LoadPreferences(loaded, MakeEditionRegistry(), path, kNow + 99);

  for (const PreferenceRow& pref : PreferenceRows()) {
    if (pref.saved == PreferenceSaved::Never) continue;
    if (pref.id == SettingId::Cfg) continue;
    EXPECT_EQ(Describe(loaded, pref.id), Describe(saved, pref.id)) << pref.group << "/" << pref.key;
  }
  EXPECT_EQ(loaded.Int(SettingId::Cfg), 19);
  EXPECT_EQ(loaded.Int(SettingId::HidePasswords), 0);
  EXPECT_EQ(loaded.Text(SettingId::TxtFields), "username,password,firstname,lastname,title,sex,notes");
  EXPECT_EQ(loaded.Text(SettingId::CsvDelimiter), ",");
}

TEST(Preferences, FileLayout) {
  Settings settings;
  LoadPreferences(settings, MakeEditionRegistry(), "/nonexistent/config.ini", kNow);
  const std::string text = PreferencesText(settings);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF\r\n[General]\r\nCFG = 19\r\nLanguage = en\r\nUpdate Range = 2\r\n", 0), 0u);
  EXPECT_NE(text.find("Update Date = 1700000000\r\nSave Window Position = 1\r\n; \r\n[Window]\r\n"
                      "IsMaximized = 0\r\nWidth = 510\r\nHeight = 260\r\nX = 100\r\nY = 100\r\n; \r\n"
                      "[Interface]\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("[Input]\r\nFormat = psd\r\nDDS Load As = 0\r\nGIF Frame Loading = 0\r\n"
                      "ICO Frame Loading = 0\r\nPSD Color Mode = 0\r\nRAW Load As = 0\r\nRAW Header Size = 0\r\n"
                      "RAW Image Width = 0\r\nRAW Image Height = 0\r\nRAW Tone Mapping = 2\r\n"
                      "TIFF Frame Loading = 0\r\n; \r\n[Output]\r\nFormat = bmp\r\nBMP BPP = 0\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Image Gamma = 1.000000\r\n"), std::string::npos);
  EXPECT_NE(text.find("Filename Mask = %filename%.%ext%\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("[File]\r\nRecent Out Folders = \r\nRecent Files = \r\n; \r\n"
                             "[Privacy]\r\nClean Recent Files = 0\r\n; \r\n"));
  for (const char* never : {"Hide Passwords", "Show Single Password", "Show Password List", "Show Character Set",
                            "Show Advanced Options", "TxtFields", "CsvDelimiter"}) {
    EXPECT_EQ(text.find(never), std::string::npos) << never;
  }
  // Every line ends with CR LF.
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    ASSERT_EQ(text[at - 1], '\r');
  }

  settings.SetNumber(SettingId::SaveWindowPosition, 0);
  EXPECT_NE(PreferencesText(settings).find("[Window]\r\n; \r\n[Interface]\r\n"), std::string::npos);
  const Settings reread = LoadText(PreferencesText(settings));
  EXPECT_EQ(reread.Int(SettingId::WindowX), 100);
  EXPECT_EQ(reread.Int(SettingId::WindowWidth), 510);
  EXPECT_EQ(reread.Int(SettingId::WindowHeight), 260);
}

TEST(Preferences, MissingFileGivesDefaultsWithAspectRatioOn) {
  Settings settings;
  LoadPreferences(settings, MakeEditionRegistry(), "/nonexistent/config.ini", kNow);
  EXPECT_EQ(settings.Int(SettingId::KeepAspectRatio), 1);
  EXPECT_EQ(settings.Int(SettingId::Cfg), 19);
  EXPECT_EQ(settings.Date(SettingId::UpdateDate), kNow);
  EXPECT_EQ(settings.Text(SettingId::OutputFormat), "bmp");
  EXPECT_EQ(settings.Text(SettingId::FilenameMask), "%filename%.%ext%");
}

TEST(Preferences, MissingKeysTakeTheirDefaultsAndEmptyValuesReadAsZero) {
  const Settings settings = LoadText("[Output]\nJPG Quality =\n[Watermark]\nFont =\n");
  EXPECT_EQ(settings.Int(SettingId::JpgQuality), 0);
  EXPECT_EQ(settings.Text(SettingId::WmFont), "");
  EXPECT_EQ(settings.Int(SettingId::WebpQuality), 100);
  EXPECT_EQ(settings.Text(SettingId::WmText), "\u00A9 2006-2021 Tessaline Software");
  EXPECT_EQ(settings.Int(SettingId::WmTextPosition), 8);
  EXPECT_EQ(settings.Int(SettingId::OutFoldersNumber), 5);
  EXPECT_EQ(settings.Int(SettingId::KeepAspectRatio), 1);
  EXPECT_EQ(settings.Date(SettingId::FileTimestampCustom), kNow);
  EXPECT_FLOAT_EQ(settings.Real(SettingId::Gamma), 1.0f);
}

TEST(Preferences, KeysAreFoundOnlyInTheirOwnGroupInAnyLetterCase) {
  const Settings settings = LoadText(
      "[general]\ncfg = 19\n[OUTPUT]\njpg quality = 80\nImage Width = 99\n[Transform]\nIMAGE WIDTH = 64\n");
  EXPECT_EQ(settings.Int(SettingId::JpgQuality), 80);
  EXPECT_EQ(settings.Int(SettingId::Width), 64);
}

TEST(Preferences, SmallFieldsKeepTheLowEightBits) {
  const Settings settings = LoadText(
      "[General]\nCFG=19\nSave Window Position = 256\n[Frame]\nDo Frame = 257\n[Advanced]\n"
      "Out Folders Number = 259\n[Output]\nJPG Quality = 300\n");
  EXPECT_EQ(settings.Int(SettingId::SaveWindowPosition), 0);
  EXPECT_EQ(settings.Int(SettingId::DoFrame), 1);
  EXPECT_EQ(settings.Int(SettingId::OutFoldersNumber), 3);
  EXPECT_EQ(settings.Int(SettingId::JpgQuality), 300);  // not range-tested when read
}

struct MigrationCase {
  const char* name;
  std::string file;
  std::string mask;
  int rawLoadAs;
  int psdMode;
  int tiffMode;
};

void PrintTo(const MigrationCase& c, std::ostream* os) { *os << c.name; }

class PreferencesMigration : public ::testing::TestWithParam<MigrationCase> {};

TEST_P(PreferencesMigration, BringsOlderFilesUpToDate) {
  const Settings settings = LoadText(GetParam().file);
  EXPECT_EQ(settings.Text(SettingId::FilenameMask), GetParam().mask);
  EXPECT_EQ(settings.Int(SettingId::RawLoadAs), GetParam().rawLoadAs);
  EXPECT_EQ(settings.Int(SettingId::PsdColorMode), GetParam().psdMode);
  EXPECT_EQ(settings.Int(SettingId::TiffColorMode), GetParam().tiffMode);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, PreferencesMigration,
    ::testing::Values(
        MigrationCase{"NoCfgIsVersionZero", "[Advanced]\nFilename Mask = %filename%\n[Input]\nRAW Load As = 1\n",
                      "%filename%.%ext%", 3, 0, 0},
        MigrationCase{"Version10KeepsAMaskWithExt",
                      "[General]\nCFG = 10\n[Advanced]\nFilename Mask = %ext%-%filename%\n",
                      "%ext%-%filename%", 0, 0, 0},
        MigrationCase{"Version13RawOnlyWhenNotZero", "[General]\nCFG = 13\n[Input]\nRAW Load As = 0\n",
                      "%filename%.%ext%", 0, 0, 0},
        MigrationCase{"Version18TakesTheOldColourModelKeys",
                      "[General]\nCFG = 18\n[Input]\nRAW Load As = 1\nPSD Color Mode = 0\nPSD Color Model = 2\n"
                      "[Output]\nTIFF Color Mode = 1\nTIFF Color Model = 0\n[Advanced]\nFilename Mask = x\n",
                      "x", 1, 2, 1},
        MigrationCase{"Version19IgnoresTheOldKeys",
                      "[General]\nCFG = 19\n[Input]\nPSD Color Model = 2\n[Output]\nTIFF Color Model = 1\n"
                      "[Advanced]\nFilename Mask = x\n",
                      "x", 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Preferences, CsvDelimiterNames) {
  EXPECT_EQ(LoadText("[File]\nCsvDelimiter = TAB\n").Text(SettingId::CsvDelimiter), "\t");
  EXPECT_EQ(LoadText("[File]\nCsvDelimiter = Space\n").Text(SettingId::CsvDelimiter), " ");
  EXPECT_EQ(LoadText("[File]\nCsvDelimiter = crlf\n").Text(SettingId::CsvDelimiter), "\r\n");
  EXPECT_EQ(LoadText("[File]\nCsvDelimiter = ;\n").Text(SettingId::CsvDelimiter), ";");
}

TEST(Preferences, FailedSaveLeavesNoFileAndAGoodSaveNoTemporaryFile) {
  Settings settings;
  LoadPreferences(settings, MakeEditionRegistry(), "/nonexistent/config.ini", kNow);
  TempDir dir;
  EXPECT_FALSE(SavePreferences(settings, dir.File("missing/config.ini")));

  WriteText(dir.File("config.ini"), "old");
  ASSERT_TRUE(SavePreferences(settings, dir.File("config.ini")));
  EXPECT_EQ(ReadText(dir.File("config.ini")), PreferencesText(settings));
  int entries = 0;
  DIR* folder = opendir(dir.Path().c_str());
  while (const dirent* entry = readdir(folder)) entries += entry->d_name[0] == '.' ? 0 : 1;
  closedir(folder);
  EXPECT_EQ(entries, 1);
}

TEST(Preferences, PathLiesBelowTheConfigHomeAndItsFoldersAreCreated) {
  TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", (dir.Path() + "/cfg").c_str(), 1);
  const std::string path = PreferencesPath("Tessaline", "kestrel");
  if (old != nullptr) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(path, dir.Path() + "/cfg/Tessaline/kestrel/config.ini");
  EXPECT_EQ(FileSizeQuery(dir.Path() + "/cfg/Tessaline/kestrel"), kPathIsFolder);
}

}  // namespace
}  // namespace kestrel
