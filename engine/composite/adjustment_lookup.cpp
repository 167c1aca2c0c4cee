#include "engine/composite/adjustment_lookup.h"

#include <algorithm>
#include <array>
#include <charconv>
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
  // Each pixel between four of the eight entries around it: those on the
  // path from the cell's low corner to its high one that takes the channels
  // in order of how far the pixel lies along them (tetrahedral, as colour
  // management looks three-channel tables up).
  return [cube = std::move(*read)](float* rgb, std::size_t pixels) {
    const int n = cube.size;
    const std::size_t step[3] = {3, 3 * static_cast<std::size_t>(n), 3 * static_cast<std::size_t>(n) * n};
    for (std::size_t x = 0; x < pixels; ++x) {
      float* p = rgb + x * 3;
      std::array<float, 3> part{};
      std::size_t corner = 0;
      for (int c = 0; c < 3; ++c) {
        const float t = std::clamp((p[c] - cube.low[c]) / (cube.high[c] - cube.low[c]), 0.0f, 1.0f) * static_cast<float>(n - 1);
        const int index = std::min(static_cast<int>(t), n - 2);
        part[c] = t - static_cast<float>(index);
        corner += static_cast<std::size_t>(index) * step[c];
      }
      std::array<int, 3> order = {0, 1, 2};
      std::sort(order.begin(), order.end(), [&](int a, int b) { return part[a] > part[b]; });
      float out[3];
      const float* last = &cube.colours[corner];
      std::copy(last, last + 3, out);
      for (const int c : order) {
        corner += step[c];
        const float* next = &cube.colours[corner];
        for (int k = 0; k < 3; ++k) out[k] += part[c] * (next[k] - last[k]);
        last = next;
      }
      for (int k = 0; k < 3; ++k) p[k] = std::clamp(out[k], 0.0f, 1.0f);
    }
  };
}

}  // namespace kestrel
