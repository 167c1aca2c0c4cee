// The layers of a Photoshop file as its layer and mask information section
// describes them: bounds, channels (where their data lies in the file), blend
// mode, opacity, fill opacity, clipping, visibility, the raster layer mask,
// blend-if ranges, knockout, group markers, artboards and names. Pure code over the file's bytes: every count,
// length and offset is checked against the section that holds it before it is
// used, and no pixel data is decoded here (engine/psd/channels.h does that).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/psd/descriptor.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_section.h"

namespace kestrel {

struct PsdRect {
  std::int32_t top = 0;
  std::int32_t left = 0;
  std::int32_t bottom = 0;
  std::int32_t right = 0;
  std::int64_t Width() const { return right > left ? std::int64_t{right} - left : 0; }
  std::int64_t Height() const { return bottom > top ? std::int64_t{bottom} - top : 0; }
};

// Channel ids: 0.. colour, -1 transparency, -2 the layer mask, -3 the user
// mask when a vector mask is present too.
inline constexpr int kLayerTransparency = -1;
inline constexpr int kLayerMask = -2;
inline constexpr int kLayerRealMask = -3;

struct PsdLayerChannel {
  int id = 0;
  std::uint64_t offset = 0;  // of the channel's compression word in the file
  std::uint64_t length = 0;  // with the compression word
};

struct PsdLayerMask {
  bool present = false;
  int channelId = kLayerMask;
  PsdRect rect;
  std::uint8_t defaultColour = 0;  // outside the rectangle
  bool disabled = false;
  bool inverted = false;
};

// A point of a vector mask, in pixels of the canvas.
struct PathPoint {
  double x = 0;
  double y = 0;
};

// One knot of a Bézier path: the control point before it, the anchor, and the control point after it.
struct PathKnot {
  PathPoint before;
  PathPoint anchor;
  PathPoint after;
};

// A closed subpath and how it joins the shape so far: 0 exclude, 1 union,
// 2 subtract, 3 intersect; -1 belongs to the component before it.
struct PathComponent {
  int operation = 1;
  std::vector<PathKnot> knots;
};

struct PsdVectorMask {
  std::vector<PathComponent> subpaths;  // closed ones; open ones enclose nothing
  bool inverted = false;
  bool disabled = false;
};

// What a record is in the tree of groups. In the file, a group's end marker
// comes first (below its layers) and its folder record last (above them).
enum class PsdSection { Layer, OpenFolder, ClosedFolder, GroupEnd };

// Where the data of one of a layer's additional information blocks lies in the file.
struct PsdBlockRef {
  FourCC key;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool Present() const { return static_cast<bool>(key); }
};

// A blend-if range on 0..255: values under blackLow or over whiteHigh hide
// the pixel, values between a split slider's halves fade it in.
struct PsdBlendRange {
  std::uint8_t blackLow = 0, blackHigh = 0, whiteLow = 255, whiteHigh = 255;
};

// The ranges of this layer's own values and of the values beneath it.
struct PsdBlendRanges {
  PsdBlendRange thisLayer;
  PsdBlendRange underlying;
};

// An artboard: a group whose layers show only within its rectangle, over its background.
struct PsdArtboard {
  enum class Background { White = 1, Black = 2, Transparent = 3, Colour = 4 };
  bool present = false;
  PsdRect rect;
  Background background = Background::Transparent;
  DescriptorValue colour;  // the colour of Background::Colour, as a colour descriptor
};

struct PsdLayer {
  PsdRect rect;
  std::vector<PsdLayerChannel> channels;
  FourCC blendMode = "norm";
  std::uint8_t opacity = 255;
  std::uint8_t fillOpacity = 255;
  bool clipping = false;
  bool hidden = false;
  std::uint8_t knockout = 0;  // 1 shallow, 2 deep
  PsdLayerMask mask;
  std::vector<PsdBlendRanges> blendIf;  // the grey composite's, then each channel's
  PsdSection section = PsdSection::Layer;
  bool hasEffects = false;     // layer style blocks (engine/composite/layer_effects.h reads them)
  bool isAdjustment = false;   // adjustment layer: changes the colour of what lies beneath
  PsdBlockRef adjustment;      // its settings block (levl, curv, nvrt...), the first one met
  bool isFill = false;         // fill or shape layer: drawn from its stored pixels, or else its settings
  bool hasVectorMask = false;
  bool isText = false;          // a type layer: drawn from its stored pixels
  bool isSmartObject = false;   // an embedded or linked smart object: drawn from its stored pixels
  bool hasVectorShape = false;  // vector origination or stroke data: with pixelsIrrelevant, a shape
  bool drawnFromShape = false;  // a shape layer's fill or stroke (vscg, vstk): its pixels hold its edge
  bool pixelsIrrelevant = false;  // the record's flag: the stored pixels do not make the look
  PathPoint referencePoint;     // fxrp: moves with the layer; patterns linked with it start there
  PsdVectorMask vectorMask;
  PsdBlockRef fill;            // SoCo, GdFl or PtFl: a fill layer's settings
  PsdBlockRef effects;         // lfx2 (or lmfx when alone): the layer style as a descriptor
  PsdBlockRef otherStyle;      // lfxs: the style groups keep, in the form of lfx2
  // How the style meets the layer's fill opacity and masks (infx, lmgm, vmgm, tsly).
  bool blendInteriorAsGroup = false;  // fill opacity fades the effects inside the layer too
  bool maskHidesEffects = false;      // the layer mask cuts the effects rather than shaping them
  bool vectorMaskHidesEffects = false;
  bool transparencyShapesLayer = true;
  bool blendClippedAsGroup = true;    // clbl: the layers clipped to this one blend with it, then as one
  PsdArtboard artboard;               // artb, artd or abdd on a group
  std::string name;            // UTF-8 (from the Unicode name when there is one)

  const PsdLayerChannel* Channel(int id) const {
    for (const PsdLayerChannel& c : channels) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }
};

struct PsdLayers {
  std::vector<PsdLayer> layers;  // bottom to top, as in the file
  // Why the section could not be read (empty when it was, or has no layers).
  std::string problem;
};

// Reads the layer records of the file whose header is `header`, `file` being
// all of its bytes, from the layer info that `section` found: the section's
// own, or when that holds no layers, the info of its Lr16, Lr32 or Layr block.
PsdLayers ReadPsdLayers(std::span<const std::uint8_t> file, const PsdHeader& header, const PsdLayerSection& section);

// The same, walking the layer section first.
PsdLayers ReadPsdLayers(std::span<const std::uint8_t> file, const PsdHeader& header);

// The same, from a reader of all of the file's bytes (the parent reads the
// records by position, before the decoder starts).
PsdLayers ReadPsdLayers(const ByteReader& file, const PsdHeader& header);

}  // namespace kestrel
