// Writes large Photoshop files for the benchmark, quickly.
// Usage: make_bench_psd OUT KIND WIDTH HEIGHT raw|rle noise|smooth
// KIND: rgb8, grey8, cmyk8, rgb16, grey16
#include <cstdint>
#include <cstdio>
#include <cstring>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s OUT KIND WIDTH HEIGHT raw|rle noise|smooth\n", argv[0]);
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
  Put32(out, 0);  // image resources
  Put32(out, 0);  // layers and masks
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
