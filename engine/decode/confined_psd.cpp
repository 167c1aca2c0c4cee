#include "engine/decode/confined_psd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/confine/confined_decode.h"
#include "engine/confine/untrusted_file.h"
#include "engine/decode/layer_alone.h"
#include "engine/decode/memory_need.h"
#include "engine/decode/psd_decode.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_section.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Compositing lays each layer over the canvas at some hundred million pixels
// a second; the CPU limit allows a tenth of that for every layer the file declares.
constexpr std::uint64_t kCompositedPixelsPerCpuSecond = 16ull << 20;
// Canvases of the layer compositor the child is given at least, however
// flat the tree of groups: the picture's, the output picture made from it,
// and room for what a layer's style draws beside them.
constexpr std::uint64_t kLayerCanvases = 4;
// The child is limited by the CPU it uses, so a busy machine or a stopped run
// does not fail a valid file; the wall-clock bound is there for a hang alone.
constexpr std::uint64_t kWallPerCpuSecond = 4;
constexpr std::uint64_t kBaseWallSeconds = 20;

SandboxProbe g_probe = nullptr;

// The input opened and its header checked; file.failure says why it cannot be decoded.
struct OpenedInput {
  UntrustedFile file;
  PsdHeader header;
};

OpenedInput OpenAndCheck(const std::string& path) {
  OpenedInput input{OpenUntrustedFile(path), {}};
  if (!input.file.failure.empty()) return input;
  const PsdHeaderCheck check = CheckPsdHeader(input.file.size, SourceOfFile(input.file.fd.Get()));
  if (check.ok) input.header = check.header;
  else input.file.failure = check.problem;
  return input;
}

// What drawing the layers will cost, as far as the parent knows it: the
// records the file declares (their count, read from the layer section's
// head), and the compositor's canvases, which only the child reads from the
// records and tells when they need more than it was given.
struct LayerDrawingNeed {
  std::uint32_t layers = 0;
  std::uint64_t compositorBytes = 0;  // 0: the least the child is given
};

// What the child holds drawing the picture from the layers: the compositor,
// beside the merged image decoded first (kept should the layers fail).
std::uint64_t CompositingWork(const PsdHeader& header, const LayerDrawingNeed& need) {
  return header.decodedBytes + need.compositorBytes;
}

// The memory the child is given beside the mapped file. Decoding may take a
// few copies of the picture; a picture rebuilt from the layers comes after it.
std::uint64_t ChildWork(const PsdHeader& header, const LayerDrawingNeed& need) {
  std::uint64_t work = 4 * header.decodedBytes;
  if (header.layerSectionLength > 0) {
    const std::uint64_t leastCanvases = header.decodedBytes + kLayerCanvases * LayerCanvasBytes(header);
    work = std::max({work, CompositingWork(header, need), leastCanvases});
  }
  return work;
}

SandboxLimits LimitsFor(const PsdHeader& header, std::uint64_t fileSize, const LayerDrawingNeed& need) {
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::uint64_t cpu = std::min(kBaseCpuSeconds + header.decodedBytes / kDecodedBytesPerCpuSecond +
                                         std::uint64_t{need.layers} * pixels / kCompositedPixelsPerCpuSecond,
                                     kMaxDecodeCpuSeconds);
  return DecodeLimits(ChildWork(header, need) + fileSize, cpu, (kBaseWallSeconds + kWallPerCpuSecond * cpu) * 1000);
}

// Why the machine cannot hold the conversion, counting what drawing the
// picture from its layers takes (with the mapped file) when it is known to.
std::string ShortageOf(const OpenedInput& input, const LayerDrawingNeed& need) {
  return MemoryShortage(input.header,
                        need.compositorBytes > 0 ? CompositingWork(input.header, need) + input.file.size : 0);
}

// What the child says ahead of its picture: the note of the rebuild, then
// why the layers could not be composited (a length, then UTF-8 text).
bool WriteRebuildNote(int output, const DecodedPsd& decoded) {
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(decoded.why.size(), kMaxRebuildReasonBytes));
  return WriteAll(output, &decoded.note, sizeof decoded.note) && WriteAll(output, &length, sizeof length) &&
         WriteAll(output, decoded.why.data(), length);
}

// The parent's side; the child is not trusted: the reason's length is
// checked and its text made one valid line before anyone shows it.
bool ReadRebuildNote(const RecordSource& source, LayerRebuildNote& note, std::string& why) {
  std::uint32_t length = 0;
  if (!source(&note, sizeof note) || !source(&length, sizeof length) || length > kMaxRebuildReasonBytes) return false;
  std::string text(length, '\0');
  if (!source(text.data(), length)) return false;
  why = OneLineOfText(text);
  return true;
}

// The child's side of drawing one layer alone; `why` says why it could not be.
DecodedPsd DecodeOneLayer(std::uint64_t size, const std::uint8_t* mapped, const PsdHeader& header, std::size_t layer) {
  DecodedPsd decoded;
  if (mapped == nullptr) {
    decoded.why = "the file could not be mapped";
    return decoded;
  }
  ImageResult drawn = DrawLayerAlone(ReadPsdDocument(std::span(mapped, size), header), layer);
  decoded.image = drawn.image.release();
  decoded.why = std::move(drawn.failure);
  return decoded;
}

// What the child is told of the file; it reads the rest itself.
struct PsdDecodeArguments {
  SandboxProbe probe;
  int flags;
  PsdHeader header;
  bool oneLayer;
  std::size_t layer;
  std::uint64_t compositorRoom;  // what the layers' canvases may take
};
static_assert(std::is_trivially_copyable_v<PsdDecodeArguments>);

// The child's side of a decode.
int DecodeInChild(const std::uint8_t* bytes, std::size_t size, const SandboxInput& input, int output) {
  PsdDecodeArguments arguments;
  if (size != sizeof arguments) return 1;
  std::memcpy(&arguments, bytes, sizeof arguments);
  if (arguments.probe != nullptr) return arguments.probe(input.fd);
  FreeImage_SetOutputMessage(nullptr);  // nothing may be printed from here
  const DecodedPsd decoded = arguments.oneLayer
                                 ? DecodeOneLayer(input.size, input.mapped, arguments.header, arguments.layer)
                                 : DecodePsd(input.fd, input.size, input.mapped, arguments.flags, arguments.header,
                                             arguments.compositorRoom);
  const bool told = WriteRebuildNote(output, decoded);
  return decoded.image != nullptr && told && WriteDecodedImage(decoded.image, output) ? 0 : 1;
}

// One confined decode of the opened input, the child given what `need` says.
ImageResult RunDecoder(const OpenedInput& input, int flags, std::optional<std::size_t> layer,
                       const LayerDrawingNeed& need, LayerRebuildNote& note, std::string& why) {
  const PsdHeader& header = input.header;
  ConfinedDecode run;
  run.limits = LimitsFor(header, input.file.size, need);
  run.fd = input.file.fd.Get();
  run.size = input.file.size;
  const std::uint64_t room = layer ? UINT64_MAX : ChildWork(header, need) - header.decodedBytes;
  const PsdDecodeArguments arguments{g_probe, flags, header, layer.has_value(), layer.value_or(0), room};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&arguments);
  run.work = SandboxWork{DecodeInChild, std::vector<std::uint8_t>(bytes, bytes + sizeof arguments)};
  note = {};
  why.clear();
  run.readAhead = [&](const RecordSource& source) { return ReadRebuildNote(source, note, why); };
  run.width = header.width;
  run.height = header.height;
  // Rows may carry up to 3 bytes of padding beyond the decoded pixels.
  run.maxPixelBytes = header.decodedBytes + 4ull * header.height;
  return RunConfinedDecode(run);
}

// The whole picture, or with `layer` that layer alone. Only the child reads
// the layer records: when the picture is drawn from them and their canvases
// need more than the first child was given, it says so before decoding
// anything, and the file is refused for want of memory or decoded again by a
// child given that room (no more than the machine's budget, however much the
// child claims).
ImageResult LoadSandboxed(const std::string& path, int flags, std::optional<std::size_t> layer) {
  OpenedInput input = OpenAndCheck(path);
  if (!input.file.failure.empty()) return FailedImage(input.file.failure);
  LayerDrawingNeed need;
  need.layers = CountPsdLayers(input.file.size, SourceOfFile(input.file.fd.Get()), input.header);
  // Before the decoder allocates anything: a picture the machine cannot hold is refused.
  if (std::string shortage = ShortageOf(input, need); !shortage.empty()) return FailedImage(std::move(shortage));
  LayerRebuildNote note;
  std::string why;
  ImageResult load = RunDecoder(input, flags, layer, need, note, why);
  if (!load.image && !layer && note.compositorMiBNeeded != 0) {
    need.compositorBytes = std::uint64_t{note.compositorMiBNeeded} << 20;
    if (std::string shortage = ShortageOf(input, need); !shortage.empty()) return FailedImage(std::move(shortage));
    load = RunDecoder(input, flags, layer, need, note, why);
  }
  if (layer) {
    if (!load.image && load.failure == kDecoderUnreadable) {
      load.failure = "layer " + std::to_string(*layer) + " could not be drawn" + (why.empty() ? "" : " (" + why + ")");
    }
    return load;
  }
  if (!load.image && load.failure == kDecoderUnreadable && !why.empty()) {
    load.failure += " and the layers could not be composited (" + why + ")";
  }
  if (load.image && (note.rebuilt != 0 || note.placeholderKept != 0)) {
    load.notes.push_back(FileNote{path, DescribeRebuild(note, why)});
  }
  return load;
}

}  // namespace

ImageResult LoadPsdSandboxed(const std::string& path, int flags) { return LoadSandboxed(path, flags, std::nullopt); }

ImageResult LoadPsdLayerSandboxed(const std::string& path, int flags, std::size_t layer) {
  return LoadSandboxed(path, flags, layer);
}

void SetSandboxProbeForTesting(SandboxProbe probe) { g_probe = probe; }

FactsResult ReadPsdFactsSandboxed(const std::string& path) {
  FactsResult result;
  OpenedInput input = OpenAndCheck(path);
  if (!input.file.failure.empty()) {
    result.failure = input.file.failure;
    return result;
  }
  const int inputFd = input.file.fd.Get();
  const std::uint64_t size = input.file.size;
  const FileMapping mapping(inputFd, size);
  const std::uint8_t* mapped = mapping.Data();
  if (mapped == nullptr) {
    result.failure = "cannot map the file";
    return result;
  }
  const PsdHeader header = input.header;
  // Reading the records needs the file and little else: no picture is decoded.
  const std::uint64_t cpu = kBaseCpuSeconds + size / kDecodedBytesPerCpuSecond;
  const SandboxLimits limits = DecodeLimits(size, cpu, (kBaseWallSeconds + kWallPerCpuSecond * cpu) * 1000);
  const SandboxResult run = RunSandboxed(
      limits, SandboxDescriptors{{inputFd}, {}},
      [=](int output) -> int {
        const PsdDocument document = ReadPsdDocument(std::span(mapped, size), header);
        return WriteFileFacts(output, GatherFileFacts(document)) ? 0 : 1;
      },
      [&](SandboxOutput& output) {
        result.facts = ReadFileFacts([&output](void* buffer, std::size_t bytes) { return output.Read(buffer, bytes); });
        return result.facts.has_value();
      });
  if (!run.Succeeded()) result.failure = DescribeDecoderEnd(run, limits);
  else if (!result.facts) result.failure = kDecoderInconsistent;
  if (!result.failure.empty()) result.facts.reset();
  return result;
}

ImageResult LoadPsdInProcess(const std::string& path, int flags) {
  OpenedInput input = OpenAndCheck(path);
  if (!input.file.failure.empty()) return FailedImage(input.file.failure);
  const FileMapping mapping(input.file.fd.Get(), input.file.size);
  ImageResult load;
  load.image = Adopt(DecodePsd(input.file.fd.Get(), input.file.size, mapping.Data(), flags, input.header).image);
  if (!load.image) return FailedImage(kDecoderUnreadable);
  return load;
}

}  // namespace kestrel
