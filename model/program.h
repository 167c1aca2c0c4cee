// The program's identity: name, version, title and maker.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view kProgramName = "Tessaline PSD to BMP";
inline constexpr int kProgramVersion = 300;
inline constexpr std::string_view kCopyrightLine = "\u00A9 2006-2021 Tessaline Software";
inline constexpr std::string_view kMakerWebAddress = "http://www.tessaline.example";

// The dotted version text of a version number: 300 -> "3.0", 312 -> "3.1.2".
std::string VersionText(int version);
// Program name, a blank and the version text.
std::string TitleText();

}  // namespace kestrel
