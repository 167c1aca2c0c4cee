#include "engine/decode/layer_need.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/decode/memory_need.h"
#include "engine/psd/layer_records.h"
#include "engine/psd/layer_section.h"
#include "engine/psd/resources.h"

namespace kestrel {
namespace {

// Image resources larger than this are not read for their placeholder mark
// (the merged image is then taken as real, the common case).
constexpr std::uint64_t kMaxResourcesRead = 16ull << 20;

// Reads by position a block at a time: the records' many small fields cost
// one read a block rather than one a field.
class BlockReads {
 public:
  BlockReads(const ByteSource& source, std::uint64_t size) : source_(source), size_(size) {}

  bool Read(std::uint64_t offset, void* out, std::size_t size) {
    auto* to = static_cast<std::uint8_t*>(out);
    while (size > 0) {
      if (offset < start_ || offset >= start_ + block_.size()) {
        if (offset >= size_) return false;
        start_ = offset;
        block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size_ - offset)));
        if (!source_(start_, block_.data(), block_.size())) {
          block_.clear();
          return false;
        }
      }
      const std::size_t from = static_cast<std::size_t>(offset - start_);
      const std::size_t n = std::min(size, block_.size() - from);
      std::memcpy(to, block_.data() + from, n);
      to += n;
      offset += n;
      size -= n;
    }
    return true;
  }

 private:
  static constexpr std::uint64_t kBlock = 64 * 1024;
  const ByteSource& source_;
  std::uint64_t size_;
  std::uint64_t start_ = 0;
  std::vector<std::uint8_t> block_;
};

bool MergedImageIsPlaceholder(const ByteReader& file, const PsdHeader& header) {
  if (header.resourcesLength > kMaxResourcesRead) return false;
  std::vector<std::uint8_t> section(static_cast<std::size_t>(header.resourcesLength));
  ByteReader resources = file.Range(header.resourcesOffset, header.resourcesLength);
  if (!resources.Copy(section.data(), section.size())) return false;
  return !ReadPsdResources(section).hasRealMergedData.value_or(true);
}

}  // namespace

LayerDrawingNeed ReadLayerDrawingNeed(const ByteSource& read, std::uint64_t fileSize, const PsdHeader& header) {
  LayerDrawingNeed need;
  need.layers = CountPsdLayers(fileSize, read, header);
  if (header.layerSectionLength == 0) return need;
  BlockReads blocks(read, fileSize);
  const ByteSource buffered = [&blocks](std::uint64_t offset, void* out, std::size_t size) {
    return blocks.Read(offset, out, size);
  };
  const ByteReader file(buffered, fileSize);
  const PsdLayers layers = ReadPsdLayers(file, header);
  need.compositorBytes = CompositorBytes(header, layers.layers);
  need.drawsLayers = !layers.layers.empty() && MergedImageIsPlaceholder(file, header);
  return need;
}

}  // namespace kestrel
