// Writes large Photoshop files for the benchmark, quickly.
// Usage: make_bench_psd OUT KIND WIDTH HEIGHT raw|rle noise|smooth [LAYERS [STYLE|-]]
// KIND: rgb8, grey8, cmyk8, rgb16, grey16
// With LAYERS, the file also holds that many run-length layers: an opaque
// background over the canvas, then layers over two thirds of it with soft
// alpha in turn normal, multiply, screen, overlay and hue, every other one
// at 70% opacity. With STYLE too (a file holding a layer style block's data,
// as tools/layer_style.py writes it; "-" for none), every layer above the
// background carries that style, and image resource 1057 marks the merged
// image a placeholder, so that the picture is rebuilt from the layers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// PackBits, as Photoshop stores run-length rows.
void PackBits(const std::uint8_t* row, std::size_t size, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < size) {
    std::size_t run = 1;
    while (i + run < size && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<std::uint8_t>(257 - run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    std::size_t literal = 1;
    while (i + literal < size && literal < 128 &&
           !(i + literal + 1 < size && row[i + literal] == row[i + literal + 1])) {
      ++literal;
    }
    out.push_back(static_cast<std::uint8_t>(literal - 1));
    out.insert(out.end(), row + i, row + i + literal);
    i += literal;
  }
}

// The layer and mask information of `layers` layers (its length first).
std::vector<std::uint8_t> LayerSection(unsigned layers, unsigned width, unsigned height, unsigned channels,
                                       unsigned depth, const std::vector<std::uint8_t>& style) {
  const char* modes[] = {"norm", "mul ", "scrn", "over", "hue "};
  std::vector<std::uint8_t> records, pixels;
  const std::size_t sampleBytes = depth / 8;
  for (unsigned l = 0; l < layers; ++l) {
    const unsigned top = l == 0 ? 0 : (height / 6) * (l % 3) / 2;
    const unsigned left = l == 0 ? 0 : (width / 6) * (l % 2);
    const unsigned bottom = l == 0 ? height : top + height * 2 / 3;
    const unsigned right = l == 0 ? width : left + width * 2 / 3;
    const unsigned w = right - left, h = bottom - top;
    for (unsigned v : {top, left, bottom, right}) Put32(records, v);
    Put16(records, channels + 1);
    std::vector<std::uint8_t> row(w * sampleBytes), packed, counts, data;
    for (int c = -1; c < static_cast<int>(channels); ++c) {
      counts.clear();
      data.clear();
      for (unsigned y = 0; y < h; ++y) {
        for (unsigned x = 0; x < w; ++x) {
          const unsigned value = c < 0 ? (l == 0 ? 255 : (x * 255 / w + y * 255 / h) / 2)
                                       : ((x + left) / 9 + (y + top) / 4 + (c + 1) * 70 * (l + 1)) % 256;
          for (std::size_t b = 0; b < sampleBytes; ++b) row[x * sampleBytes + b] = static_cast<std::uint8_t>(value);
        }
        packed.clear();
        PackBits(row.data(), row.size(), packed);
        Put16(counts, static_cast<unsigned>(packed.size()));
        data.insert(data.end(), packed.begin(), packed.end());
      }
      Put16(records, static_cast<unsigned>(static_cast<std::uint16_t>(c)));
      Put32(records, static_cast<std::uint32_t>(2 + counts.size() + data.size()));
      Put16(pixels, 1);
      pixels.insert(pixels.end(), counts.begin(), counts.end());
      pixels.insert(pixels.end(), data.begin(), data.end());
    }
    records.insert(records.end(), {'8', 'B', 'I', 'M'});
    records.insert(records.end(), modes[l % 5], modes[l % 5] + 4);
    records.push_back(l % 2 == 0 ? 255 : 178);  // opacity
    records.push_back(0);                       // clipping
    records.push_back(0);                       // flags
    records.push_back(0);
    // Extra data: no mask, no blending ranges, an empty name, and the style above the background.
    const bool styled = l > 0 && !style.empty();
    const std::uint32_t padded = static_cast<std::uint32_t>((style.size() + 3) / 4 * 4);
    Put32(records, 12 + (styled ? 12 + padded : 0));
    Put32(records, 0);
    Put32(records, 0);
    Put32(records, 0);
    if (styled) {
      records.insert(records.end(), {'8', 'B', 'I', 'M', 'l', 'f', 'x', '2'});
      Put32(records, padded);
      records.insert(records.end(), style.begin(), style.end());
      records.insert(records.end(), padded - style.size(), 0);
    }
  }
  std::vector<std::uint8_t> info;
  Put16(info, layers);
  info.insert(info.end(), records.begin(), records.end());
  info.insert(info.end(), pixels.begin(), pixels.end());
  if (info.size() % 2 != 0) info.push_back(0);
  std::vector<std::uint8_t> section;
  Put32(section, static_cast<std::uint32_t>(4 + info.size() + 4));
  Put32(section, static_cast<std::uint32_t>(info.size()));
  section.insert(section.end(), info.begin(), info.end());
  Put32(section, 0);  // global layer mask
  return section;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7 || argc > 9) {
    std::fprintf(stderr, "usage: %s OUT KIND WIDTH HEIGHT raw|rle noise|smooth [LAYERS [STYLE|-]]\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[2];
  const unsigned width = static_cast<unsigned>(std::stoul(argv[3]));
  const unsigned height = static_cast<unsigned>(std::stoul(argv[4]));
  const bool rle = std::strcmp(argv[5], "rle") == 0;
  const bool noise = std::strcmp(argv[6], "noise") == 0;
  unsigned channels = 3, depth = 8, mode = 3;
  if (kind == "grey8") channels = 1, mode = 1;
  if (kind == "cmyk8") channels = 4, mode = 4;
  if (kind == "rgb16") depth = 16;
  if (kind == "grey16") channels = 1, mode = 1, depth = 16;

  std::vector<std::uint8_t> out;
  out.insert(out.end(), {'8', 'B', 'P', 'S'});
  Put16(out, 1);
  out.insert(out.end(), 6, 0);
  Put16(out, channels);
  Put32(out, height);
  Put32(out, width);
  Put16(out, depth);
  Put16(out, mode);
  Put32(out, 0);  // colour mode data
  const bool placeholder = argc == 9;
  std::vector<std::uint8_t> style;
  if (placeholder && std::strcmp(argv[8], "-") != 0) {
    std::ifstream in(argv[8], std::ios::binary);
    style.assign(std::istreambuf_iterator<char>(in), {});
    if (style.empty()) return 1;
  }
  if (placeholder) {
    // Resource 1057 (version info): no real merged data.
    Put32(out, 18);
    out.insert(out.end(), {'8', 'B', 'I', 'M'});
    Put16(out, 1057);
    Put16(out, 0);  // an empty name, padded
    Put32(out, 5);
    Put32(out, 1);
    out.insert(out.end(), {0, 0});  // the flag, padded
  } else {
    Put32(out, 0);  // image resources
  }
  if (argc >= 8) {
    const std::vector<std::uint8_t> section = LayerSection(static_cast<unsigned>(std::stoul(argv[7])), width, height,
                                                           channels, depth, style);
    out.insert(out.end(), section.begin(), section.end());
  } else {
    Put32(out, 0);  // layers and masks
  }
  Put16(out, rle ? 1 : 0);

  std::mt19937 random(42);
  const std::size_t rowBytes = std::size_t(width) * depth / 8;
  std::vector<std::uint8_t> row(rowBytes);
  auto fillRow = [&](unsigned c, unsigned y) {
    for (unsigned x = 0; x < width; ++x) {
      const unsigned value = noise ? random() : (x / 7 + y / 5 + c * 40) % 256;
      if (depth == 16) {
        row[2 * x] = static_cast<std::uint8_t>(value);
        row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
      } else {
        row[x] = static_cast<std::uint8_t>(noise ? value : value & 0xF0);
      }
    }
  };

  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) return 1;
  if (!rle) {
    std::fwrite(out.data(), 1, out.size(), file);
    for (unsigned c = 0; c < channels; ++c) {
      for (unsigned y = 0; y < height; ++y) {
        fillRow(c, y);
        std::fwrite(row.data(), 1, row.size(), file);
      }
    }
  } else {
    std::vector<std::uint8_t> counts, data, packed;
    for (unsigned c = 0; c < channels; ++c) {
      for (unsigned y = 0; y < height; ++y) {
        fillRow(c, y);
        packed.clear();
        PackBits(row.data(), row.size(), packed);
        Put16(counts, static_cast<unsigned>(packed.size()));
        data.insert(data.end(), packed.begin(), packed.end());
      }
    }
    std::fwrite(out.data(), 1, out.size(), file);
    std::fwrite(counts.data(), 1, counts.size(), file);
    std::fwrite(data.data(), 1, data.size(), file);
  }
  return std::fclose(file) == 0 ? 0 : 1;
}
