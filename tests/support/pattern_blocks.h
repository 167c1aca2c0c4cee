// Stored patterns as a file's pattern blocks hold them, built inside the
// tests: each pattern after its length, its channels raw or run-length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutField(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One channel of a pattern's channel list: `rows` of 8-bit samples, raw or run-length (literal runs).
inline Bytes ChannelArray(const std::vector<Bytes>& rows, bool runLength) {
  const auto height = static_cast<std::uint32_t>(rows.size());
  const auto width = static_cast<std::uint32_t>(rows.empty() ? 0 : rows[0].size());
  Bytes data;
  if (runLength) {
    for (const Bytes& row : rows) PutField(data, row.size() + 1, 2);
    for (const Bytes& row : rows) {
      data.push_back(static_cast<std::uint8_t>(row.size() - 1));
      data.insert(data.end(), row.begin(), row.end());
    }
  } else {
    for (const Bytes& row : rows) data.insert(data.end(), row.begin(), row.end());
  }
  Bytes array;
  PutField(array, 1, 4);  // written
  PutField(array, 23 + data.size(), 4);
  PutField(array, 8, 4);
  for (const std::uint32_t v : {0u, 0u, height, width}) PutField(array, v, 4);
  PutField(array, 8, 2);
  array.push_back(runLength ? 1 : 0);
  array.insert(array.end(), data.begin(), data.end());
  return array;
}

// A pattern's bytes after its length: `channels` lists of rows, colour first.
inline Bytes Pattern(int mode, const std::string& id, const std::vector<std::vector<Bytes>>& channels, bool runLength,
              const Bytes& table = {}) {
  const auto height = channels[0].size();
  const auto width = channels[0][0].size();
  Bytes out;
  PutField(out, 1, 4);
  PutField(out, static_cast<std::uint64_t>(mode), 4);
  PutField(out, height, 2);
  PutField(out, width, 2);
  PutField(out, 1, 4);  // the name: "P"
  PutField(out, 'P', 2);
  out.push_back(static_cast<std::uint8_t>(id.size()));
  out.insert(out.end(), id.begin(), id.end());
  if (mode == 2) {
    out.insert(out.end(), table.begin(), table.end());
    PutField(out, 0, 4);
  }
  Bytes list;
  for (const std::uint32_t v : {0u, 0u, static_cast<std::uint32_t>(height), static_cast<std::uint32_t>(width)}) PutField(list, v, 4);
  PutField(list, channels.size(), 4);
  for (const auto& rows : channels) {
    const Bytes array = ChannelArray(rows, runLength);
    list.insert(list.end(), array.begin(), array.end());
  }
  PutField(list, 0, 4);  // the two masks, not written
  PutField(list, 0, 4);
  PutField(out, 3, 4);
  PutField(out, list.size(), 4);
  out.insert(out.end(), list.begin(), list.end());
  return out;
}

// A block of patterns, each after its length and padded to four bytes.
inline Bytes Block(const std::vector<Bytes>& patterns) {
  Bytes block;
  for (const Bytes& pattern : patterns) {
    PutField(block, pattern.size(), 4);
    block.insert(block.end(), pattern.begin(), pattern.end());
    while (block.size() % 4 != 0) block.push_back(0);
  }
  return block;
}

}  // namespace kestrel::test
