#include "output/naming.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// First character in upper case, the rest in lower case. The first
// character is one Unicode character of UTF-8 text, or one byte otherwise.
std::string TitleCase(std::string_view text) {
  if (text.empty()) return {};
  std::size_t first = 1;
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) {
    first = static_cast<std::size_t>(g_utf8_next_char(text.data()) - text.data());
  }
  return UpperCase(text.substr(0, first)) + LowerCase(text.substr(first));
}

// Zero-padded to at least `width` digits; longer numbers keep every digit so
// that names never repeat.
std::string Padded(long long number, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*lld", width, number);
  return text;
}

// The local wall clock, read anew for each date token.
std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string BaseName(const AppState& state) {
  const RunState& run = state.run;
  return FileBaseName(run.inputLabel.empty() ? run.currentInputPath : run.inputLabel);
}

// A layer's name as part of a file name: no folder separator or control
// character, and never empty, "." or "..".
std::string LayerFileName(const AppState& state) {
  std::string name;
  for (const char c : state.run.layerName) {
    const auto byte = static_cast<unsigned char>(c);
    name += c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F ? '_' : c;
  }
  const std::string_view trimmed = TrimBlanks(name);
  if (trimmed.empty() || trimmed == "." || trimmed == "..") return "layer-" + std::to_string(state.run.layerIndex);
  return std::string(trimmed);
}

struct NameToken {
  std::string_view token;
  std::string (*value)(const AppState&);
};

// The tokens in the order in which masks and watermark texts replace them.
constexpr std::array<NameToken, 19> kNameTokens{{
    {"%filename%", [](const AppState& s) { return BaseName(s); }},
    {"%filename[u]%", [](const AppState& s) { return UpperCase(BaseName(s)); }},
    {"%filename[l]%", [](const AppState& s) { return LowerCase(BaseName(s)); }},
    {"%filename[t]%", [](const AppState& s) { return TitleCase(BaseName(s)); }},
    {"%ext%", [](const AppState& s) { return s.run.conversion; }},
    {"%ext[u]%", [](const AppState& s) { return UpperCase(s.run.conversion); }},
    {"%ext[t]%", [](const AppState& s) { return TitleCase(s.run.conversion); }},
    {"%yyyy%", [](const AppState&) { return Padded(LocalNow().tm_year + 1900LL, 4); }},
    {"%mm%", [](const AppState&) { return Padded(LocalNow().tm_mon + 1, 2); }},
    {"%dd%", [](const AppState&) { return Padded(LocalNow().tm_mday, 2); }},
    {"%hh%", [](const AppState&) { return Padded(LocalNow().tm_hour, 2); }},
    {"%ii%", [](const AppState&) { return Padded(LocalNow().tm_min, 2); }},
    {"%ss%", [](const AppState&) { return Padded(LocalNow().tm_sec, 2); }},
    {"%bpp%", [](const AppState& s) { return std::to_string(s.run.outputDepth); }},
    {"%width%", [](const AppState& s) { return std::to_string(s.run.imageWidth); }},
    {"%height%", [](const AppState& s) { return std::to_string(s.run.imageHeight); }},
    {"%rnd%", [](const AppState& s) { return Padded(s.run.randomNumber, 5); }},
    {"%n%", [](const AppState& s) { return Padded(s.run.sequenceNumber, 5); }},
    // Last, so that token-like text in a layer's name is left as it is.
    {"%layer%", [](const AppState& s) { return s.run.layerIndex >= 0 ? LayerFileName(s) : std::string(); }},
}};

constexpr std::string_view kDefaultMask = "%filename%.%ext%";

// A name may reach into subfolders of the output folder, never out of it.
bool UsableName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find('/', start);
    if (name.substr(start, end - start) == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

std::string FileBaseName(const std::string& path) {
  const std::string file = FileNamePart(path);
  const auto dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) return file;
  if (file.find_first_of(" /\\", dot) != std::string::npos) return file;
  return file.substr(0, dot);
}

std::string ReplaceNameToken(const AppState& state, const std::string& text, const std::string& token) {
  const auto entry = std::find_if(kNameTokens.begin(), kNameTokens.end(),
                                  [&token](const NameToken& t) { return EqualsIgnoreCase(t.token, token); });
  if (entry == kNameTokens.end()) return text;
  return ReplaceAllIgnoreCase(text, entry->token, entry->value(state));
}

std::string ExpandFileNameMask(const AppState& state) {
  std::string text = LowerCase(state.settings.Text(SettingId::FilenameMask));
  if (text.empty()) text = kDefaultMask;
  // Each test looks at the text as the earlier tokens left it.
  for (const NameToken& entry : kNameTokens) {
    if (text.find(entry.token) != std::string::npos) text = ReplaceNameToken(state, text, std::string(entry.token));
  }
  return text;
}

std::string ExpandWatermarkText(const AppState& state, const std::string& text) {
  if (std::count(text.begin(), text.end(), '%') < 2) return text;
  // The tests look at the text as given, so token-like text brought in by a
  // value (a file named "a%ext%.psd") stays as it is.
  const std::string probe = LowerCase(text);
  std::string result = text;
  for (const NameToken& entry : kNameTokens) {
    if (probe.find(entry.token) != std::string::npos) result = ReplaceNameToken(state, result, std::string(entry.token));
  }
  return result;
}

std::string BuildOutputPath(const AppState& state) {
  const RunState& run = state.run;
  const std::string name = ExpandFileNameMask(state);
  if (!UsableName(name)) return {};
  std::string folder = run.output;
  if (state.settings.IsOn(SettingId::KeepSubfolders)) folder += run.relativeSubfolder;
  return folder + name;
}

}  // namespace kestrel
