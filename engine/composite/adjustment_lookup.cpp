#include "engine/composite/adjustment_lookup.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace kestrel {
namespace {

// Tables beyond this many steps a side are refused (the format's own tools
// write 65 at most).
constexpr int kLargestSide = 256;

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// Up to `count` numbers separated by blanks; how many were read.
int Numbers(std::string_view text, float* out, int count) {
  int read = 0;
  while (read < count) {
    text = Trimmed(text);
    if (text.empty()) break;
    const char* end = text.data() + text.size();
    const auto [next, problem] = std::from_chars(text.data(), end, out[read]);
    if (problem != std::errc()) break;
    ++read;
    text.remove_prefix(static_cast<std::size_t>(next - text.data()));
  }
  return read;
}

}  // namespace

std::optional<CubeTable> ReadCube(std::string_view text) {
  CubeTable cube;
  std::size_t entries = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    float values[3];
    if (line.starts_with("LUT_3D_SIZE")) {
      if (cube.size != 0 || Numbers(line.substr(11), values, 1) != 1) return std::nullopt;
      cube.size = static_cast<int>(values[0]);
      if (cube.size < 2 || cube.size > kLargestSide || values[0] != static_cast<float>(cube.size)) return std::nullopt;
      entries = static_cast<std::size_t>(cube.size) * cube.size * cube.size;
      cube.colours.reserve(entries * 3);
    } else if (line.starts_with("DOMAIN_MIN") || line.starts_with("DOMAIN_MAX")) {
      if (Numbers(line.substr(10), values, 3) != 3) return std::nullopt;
      std::copy(values, values + 3, line[8] == 'I' ? cube.low : cube.high);
    } else if (line.starts_with("LUT_1D_SIZE")) {
      return std::nullopt;
    } else if (Numbers(line, values, 3) == 3) {
      if (cube.colours.size() >= entries * 3) return std::nullopt;  // before the size, or beyond the table
      cube.colours.insert(cube.colours.end(), values, values + 3);
    }  // other keywords (TITLE, LUT_3D_INPUT_RANGE...) change nothing here
  }
  if (cube.size == 0 || cube.colours.size() != entries * 3) return std::nullopt;
  for (int c = 0; c < 3; ++c) {
    if (!(cube.high[c] > cube.low[c])) return std::nullopt;
  }
  return cube;
}

std::optional<PixelMix> ReadColourLookup(const DescriptorValue& settings) {
  const DescriptorValue* data = settings.Find("LUT3DFileData");
  if (settings.EnumOf("LUTFormat") != "LUTFormatCUBE" || data == nullptr) return std::nullopt;
  std::optional<CubeTable> read = ReadCube(data->text);
  if (!read) return std::nullopt;
  // Each pixel between the eight entries around it (trilinear).
  return [cube = std::move(*read)](float* rgb, std::size_t pixels) {
    const int n = cube.size;
    const auto at = [&](int r, int g, int b) { return &cube.colours[(static_cast<std::size_t>(b * n + g) * n + r) * 3]; };
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      std::array<int, 3> index{};
      std::array<float, 3> part{};
      for (int c = 0; c < 3; ++c) {
        const float t = std::clamp((p[c] - cube.low[c]) / (cube.high[c] - cube.low[c]), 0.0f, 1.0f) * static_cast<float>(n - 1);
        index[c] = std::min(static_cast<int>(t), n - 2);
        part[c] = t - static_cast<float>(index[c]);
      }
      const auto [r, g, b] = index;
      for (int c = 0; c < 3; ++c) {
        const auto along = [&](int gi, int bi) {
          return at(r, gi, bi)[c] + (at(r + 1, gi, bi)[c] - at(r, gi, bi)[c]) * part[0];
        };
        const float near = along(g, b) + (along(g + 1, b) - along(g, b)) * part[1];
        const float far = along(g, b + 1) + (along(g + 1, b + 1) - along(g, b + 1)) * part[1];
        p[c] = std::clamp(near + (far - near) * part[2], 0.0f, 1.0f);
      }
    }
  };
}

}  // namespace kestrel
