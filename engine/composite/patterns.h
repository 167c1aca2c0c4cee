// The patterns a file keeps for its pattern fills, overlays and strokes
// (the Patt, Pat2 and Pat3 blocks of its layer section), and a painter that
// tiles one of them over the canvas. A pattern is a small picture of its
// own colour mode, stored as a list of channels (raw or run-length), with
// an optional transparency channel. The blocks are indexed when the file is
// opened and a pattern is decoded only when a layer asks for it, into the
// file's colour samples.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/psd/descriptor.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "platform/byte_reader.h"

namespace kestrel {

// One decoded pattern: `channels` colour samples per pixel (fractions, in
// the file's samples), row by row, and its opacity (empty when opaque).
struct PatternTile {
  std::int32_t width = 0;
  std::int32_t height = 0;
  int channels = 0;
  std::vector<float> colour;
  std::vector<float> alpha;
};

// Which pattern a layer setting names and how it lays it: the descriptor's
// 'Ptrn' (its 'Idnt' and 'Nm  '), 'Scl ' (percent), 'phase' (an offset in
// pixels) and 'Algn' (linked with the layer).
struct PatternChoice {
  std::string id;
  std::string name;
  double scale = 1;
  double phaseX = 0;
  double phaseY = 0;
  bool linked = false;
};

// The choice a fill layer's, overlay's or stroke's settings hold; empty without a 'Ptrn'.
std::optional<PatternChoice> ReadPatternChoice(const DescriptorValue& settings);

class PatternLibrary {
 public:
  PatternLibrary() = default;
  // The patterns of `file` (all of its bytes), for a file of `header` whose
  // colour samples have `channels` channels.
  PatternLibrary(std::span<const std::uint8_t> file, const PsdHeader& header, int channels);

  // Indexes the patterns of one block's data (its list of length-prefixed patterns).
  void AddBlock(ByteReader data);

  std::size_t Size() const { return entries_.size(); }
  // The pattern whose id is `id` (or, when none has it, whose name is
  // `name`), decoded; null when there is none or it cannot be decoded or
  // turned into the file's samples.
  std::shared_ptr<const PatternTile> Find(std::string_view id, std::string_view name) const;

 private:
  struct Entry {
    std::string id;
    std::string name;
    std::span<const std::uint8_t> bytes;  // the pattern, after its length
  };
  std::shared_ptr<const PatternTile> Decode(const Entry& entry) const;

  std::span<const std::uint8_t> file_;
  int mode_ = 3;
  int channels_ = 3;
  std::vector<Entry> entries_;
  mutable std::map<std::size_t, std::shared_ptr<const PatternTile>> decoded_;
};

// Decodes one pattern (the bytes after its length) into samples of a file of
// `mode` with `channels` colour channels; empty when it is damaged, larger
// than a pattern may be, or of a mode that does not go into the file's.
std::optional<PatternTile> DecodePattern(std::span<const std::uint8_t> bytes, int mode, int channels);

// Paints a pattern repeated over the canvas from (`originX`, `originY`) at
// a scale: a pixel's corner falls at (x - originX) / scale in the tile.
// Drawn larger, a pixel mixes the four samples around it; smaller, it
// averages the part of the tile it covers (exactly, from sums of the tile).
class PatternPainter {
 public:
  PatternPainter(const PatternTile& tile, double scale, double originX, double originY);
  // `area`'s pixels: channels colour values and an opacity each, row by row.
  void Paint(const PsdRect& area, float* colour, float* opacity) const;
  int Channels() const { return tile_.channels; }

 private:
  // The premultiplied samples (then opacity) summed from the origin to (x, y) of the repeated tile.
  void Integral(double x, double y, double* out) const;

  PatternTile tile_;
  double scale_ = 1;
  double originX_ = 0;
  double originY_ = 0;
  std::vector<double> sums_;  // for a smaller pattern: (width+1) x (height+1) sums of channels+1 values
};

// Where a chosen pattern starts: at its phase from the canvas's corner or,
// linked with the layer, from the layer's `reference` point, which Photoshop
// moves with the layer (the phase stays as it was set).
std::unique_ptr<PatternPainter> MakePatternPainter(const PatternTile& tile, const PatternChoice& choice,
                                                   PathPoint reference = {});
// The same for a pattern found in `library`; null when it is not there.
std::unique_ptr<PatternPainter> MakePatternPainter(const PatternLibrary& library, const PatternChoice& choice);

}  // namespace kestrel
