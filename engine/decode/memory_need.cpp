#include "engine/decode/memory_need.h"

#include <algorithm>
#include <atomic>

#include "engine/composite/canvas_need.h"
#include "engine/composite/rects.h"
#include "engine/confine/confined_decode.h"
#include "engine/psd/document.h"
#include "platform/memory_budget.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint64_t kFloatSampleBytes = 4;

std::atomic<std::uint64_t> g_budgetForTesting{0};

// A conversion may take three quarters of what is available: the rest is left
// to the decoder child's own working memory, the page cache and everything else.
std::uint64_t ConversionBudgetBytes() {
  const std::uint64_t testing = g_budgetForTesting.load();
  if (testing != 0) return testing;
  const std::uint64_t available = AvailableMemoryBytes();
  return available - available / 4;
}

// The colour samples of a canvas pixel (beside its alpha), and the bytes of a sample.
int CanvasColours(const PsdHeader& header) {
  const int colours = ColourChannelsOfMode(header.colourMode);
  return colours > 0 ? colours : 4;
}

int CanvasSampleBytes(const PsdHeader& header) {
  return header.depth <= 8 ? 1 : header.depth == 16 ? 2 : static_cast<int>(kFloatSampleBytes);
}

// Samples a pixel of the decoded bitmap: one channel stays grey or indexed,
// three make RGB, anything else may come with alpha.
std::uint64_t DecodedSamples(const PsdHeader& header) {
  return header.channels == 1 ? 1 : header.channels == 3 ? 3 : 4;
}

std::uint64_t DecodedBitmapBytes(const PsdHeader& header) {
  const std::uint64_t sampleBytes = header.depth <= 8 ? 1 : static_cast<std::uint64_t>(header.depth) / 8;
  return std::uint64_t{header.width} * header.height * DecodedSamples(header) * sampleBytes;
}

}  // namespace

std::uint64_t ConversionPeakBytes(const PsdHeader& header) {
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::uint64_t samples = DecodedSamples(header);
  const std::uint64_t decoded = DecodedBitmapBytes(header);
  // Beside the decoded bitmap: a wide image passes through a float copy on
  // its way to 8 bits; an 8-bit one has one copy at a time (rotation, resize,
  // output depth). While it is handed over, the decoder's bitmap is the copy.
  const std::uint64_t beside = header.depth > 8 ? pixels * samples * (kFloatSampleBytes + 1) : decoded;
  return decoded + std::max(decoded, beside);
}

std::uint64_t LayerCanvasBytes(const PsdHeader& header) {
  return std::uint64_t{header.width} * header.height * static_cast<std::uint64_t>(CanvasColours(header) + 1) *
         static_cast<std::uint64_t>(CanvasSampleBytes(header));
}

std::uint64_t CompositorBytes(const PsdHeader& header, const std::vector<PsdLayer>& layers) {
  return 2 * LayerCanvasBytes(header) +
         NestedCanvasBytes(layers, PictureRect(header), CanvasColours(header), CanvasSampleBytes(header));
}

std::string MemoryShortage(const PsdHeader& header, std::uint64_t decoderBytes) {
  std::uint64_t budget = ConversionBudgetBytes();
  // While the child draws, the parent receives its picture: both are held at once.
  const std::uint64_t received = decoderBytes > 0 ? decoderBytes + DecodedBitmapBytes(header) : 0;
  std::uint64_t needed = std::max(ConversionPeakBytes(header), received);
  // And the child is given no more than its cap, however much is free.
  const std::uint64_t cap = DecodeWorkCapBytes();
  if (decoderBytes > 0 && cap > 0 && decoderBytes > cap && (budget == 0 || needed <= budget)) {
    needed = decoderBytes;
    budget = cap;
  }
  if (budget == 0 || needed <= budget) return {};  // fits, or unknown: nothing to hold it against
  std::string why = "converting a ";
  why += std::to_string(header.width);
  why += 'x';
  why += std::to_string(header.height);
  why += " image of ";
  why += std::to_string(header.depth);
  why += " bits per channel needs about ";
  why += MemorySizeText(needed);
  why += " of memory, more than the ";
  why += MemorySizeText(budget);
  why += " it may use";
  return why;
}

void SetMemoryBudgetForTesting(std::uint64_t bytes) { g_budgetForTesting = bytes; }

}  // namespace kestrel
