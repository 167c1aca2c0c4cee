// The compositor's rules on small files built here, layer by layer, with the
// expected pixels worked out from the rules themselves: opacity, fill
// opacity, hidden layers, raster masks (with their default colour and
// disabled flag), clipping, and groups isolated or passed through. And the
// choice between a real merged image and the layers.
#include <gtest/gtest.h>

#include <FreeImage.h>
#include <lcms2.h>
#include <sys/resource.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/composite/adjustment_kinds.h"
#include "engine/composite/gradients.h"
#include "engine/composite/compositor.h"
#include "engine/psd/descriptor.h"
#include "engine/decode/confined_psd.h"
#include "engine/decode/layer_rebuild.h"
#include "engine/psd/document.h"
#include "engine/decode/merged_image.h"
#include "engine/psd/header.h"
#include "engine/psd/layer_records.h"
#include "tests/support/pattern_blocks.h"
#include "tests/support/test_support.h"

namespace kestrel {
namespace {

struct Rgb {
  int r, g, b;
};

struct TestLayer {
  std::int32_t left = 0, right = 2;  // one row: pixels [left, right)
  std::vector<Rgb> colour;           // per pixel of the layer
  std::vector<int> alpha;            // per pixel; empty: no transparency channel
  const char* mode = "norm";
  int opacity = 255;
  int fill = 255;
  bool clipping = false;
  bool hidden = false;
  int section = 0;  // 1: group folder, 3: group end
  // A raster mask over [maskLeft, maskRight) of the row.
  bool masked = false;
  std::int32_t maskLeft = 0, maskRight = 0;
  std::vector<int> mask;
  int maskDefault = 0;
  bool maskDisabled = false;
  std::string name;  // Pascal string, as the layer record keeps it
  std::vector<std::uint8_t> ranges;  // blend-if ranges as the record keeps them; empty: none
  // Further additional information blocks: key and data.
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> blocks;
};

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutKey(std::vector<std::uint8_t>& out, const char* key) { out.insert(out.end(), key, key + 4); }

// The colour mode, depth and colour channels of a test file. Layers with
// pixels are only made for 8-bit RGB; others hold fill layers alone.
struct FileForm {
  int mode = 3;
  int depth = 8;
  int channels = 3;
  std::vector<std::uint8_t> merged;  // raw planar merged image; empty: white
  std::vector<std::uint8_t> icc;     // embedded colour profile; empty: none
  std::vector<std::uint8_t> patterns;  // the data of a Patt block after the global mask; empty: none
};

// A file of width x 1 pixels (8-bit RGB unless `form` says otherwise): the
// layers (bottom first), raw channels, and a white merged image marked real
// or not by resource 1057.
std::vector<std::uint8_t> MakeFile(std::uint32_t width, const std::vector<TestLayer>& layers, bool realMerged,
                                   const FileForm& form = {}) {
  std::vector<std::uint8_t> f;
  PutKey(f, "8BPS");
  Put(f, 1, 2);
  Put(f, 0, 6);
  Put(f, static_cast<std::uint64_t>(form.channels), 2);
  Put(f, 1, 4);
  Put(f, width, 4);
  Put(f, static_cast<std::uint64_t>(form.depth), 2);
  Put(f, static_cast<std::uint64_t>(form.mode), 2);
  Put(f, 0, 4);  // colour mode data
  std::vector<std::uint8_t> resources;
  PutKey(resources, "8BIM");
  Put(resources, 1057, 2);
  Put(resources, 0, 2);  // empty name, padded
  Put(resources, 5, 4);
  Put(resources, 1, 4);
  resources.push_back(realMerged ? 1 : 0);
  resources.push_back(0);  // padding
  if (!form.icc.empty()) {
    PutKey(resources, "8BIM");
    Put(resources, 1039, 2);
    Put(resources, 0, 2);
    Put(resources, form.icc.size(), 4);
    resources.insert(resources.end(), form.icc.begin(), form.icc.end());
    if (form.icc.size() % 2 != 0) resources.push_back(0);
  }
  Put(f, resources.size(), 4);
  f.insert(f.end(), resources.begin(), resources.end());

  std::vector<std::uint8_t> records, data;
  for (const TestLayer& l : layers) {
    const std::int32_t w = l.right - l.left;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> channels;
    if (!l.alpha.empty()) channels.push_back({-1, std::vector<std::uint8_t>(l.alpha.begin(), l.alpha.end())});
    for (int c = 0; c < form.channels; ++c) {
      std::vector<std::uint8_t> plane;
      for (const Rgb& p : l.colour) plane.push_back(static_cast<std::uint8_t>(c == 0 ? p.r : c == 1 ? p.g : p.b));
      channels.push_back({c, plane});
    }
    if (l.masked) channels.push_back({-2, std::vector<std::uint8_t>(l.mask.begin(), l.mask.end())});
    Put(records, 0, 4);
    Put(records, static_cast<std::uint32_t>(l.left), 4);
    Put(records, w > 0 ? 1 : 0, 4);
    Put(records, static_cast<std::uint32_t>(l.right), 4);
    Put(records, channels.size(), 2);
    for (const auto& [id, bytes] : channels) {
      Put(records, static_cast<std::uint16_t>(id), 2);
      Put(records, bytes.size() + 2, 4);
      Put(data, 0, 2);
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    PutKey(records, "8BIM");
    PutKey(records, l.section == 1 ? l.mode : l.mode);
    records.push_back(static_cast<std::uint8_t>(l.opacity));
    records.push_back(l.clipping ? 1 : 0);
    records.push_back(l.hidden ? 2 : 0);
    records.push_back(0);
    std::vector<std::uint8_t> extra;
    if (l.masked) {
      Put(extra, 20, 4);
      Put(extra, 0, 4);
      Put(extra, static_cast<std::uint32_t>(l.maskLeft), 4);
      Put(extra, 1, 4);
      Put(extra, static_cast<std::uint32_t>(l.maskRight), 4);
      extra.push_back(static_cast<std::uint8_t>(l.maskDefault));
      extra.push_back(l.maskDisabled ? 2 : 0);
      Put(extra, 0, 2);
    } else {
      Put(extra, 0, 4);
    }
    Put(extra, l.ranges.size(), 4);  // blending ranges
    extra.insert(extra.end(), l.ranges.begin(), l.ranges.end());
    extra.push_back(static_cast<std::uint8_t>(l.name.size()));  // the name, padded to 4
    extra.insert(extra.end(), l.name.begin(), l.name.end());
    extra.insert(extra.end(), (4 - (l.name.size() + 1) % 4) % 4, 0);
    PutKey(extra, "8BIM");
    PutKey(extra, "iOpa");
    Put(extra, 4, 4);
    extra.push_back(static_cast<std::uint8_t>(l.fill));
    Put(extra, 0, 3);
    for (const auto& [key, block] : l.blocks) {
      PutKey(extra, "8BIM");
      PutKey(extra, key.c_str());
      Put(extra, (block.size() + 3) / 4 * 4, 4);
      extra.insert(extra.end(), block.begin(), block.end());
      extra.insert(extra.end(), (4 - block.size() % 4) % 4, 0);
    }
    if (l.section != 0) {
      PutKey(extra, "8BIM");
      PutKey(extra, "lsct");
      Put(extra, 12, 4);
      Put(extra, static_cast<std::uint32_t>(l.section), 4);
      PutKey(extra, "8BIM");
      PutKey(extra, l.mode);
    }
    Put(records, extra.size(), 4);
    records.insert(records.end(), extra.begin(), extra.end());
  }
  std::vector<std::uint8_t> info;
  Put(info, layers.size(), 2);
  info.insert(info.end(), records.begin(), records.end());
  info.insert(info.end(), data.begin(), data.end());
  if (info.size() % 2 != 0) info.push_back(0);
  std::vector<std::uint8_t> global;
  if (!form.patterns.empty()) {
    PutKey(global, "8BIM");
    PutKey(global, "Patt");
    Put(global, form.patterns.size(), 4);
    global.insert(global.end(), form.patterns.begin(), form.patterns.end());
  }
  Put(f, info.size() + 4 + 4 + global.size(), 4);  // layer and mask section
  Put(f, info.size(), 4);
  f.insert(f.end(), info.begin(), info.end());
  Put(f, 0, 4);                    // global layer mask
  f.insert(f.end(), global.begin(), global.end());
  Put(f, 0, 2);                    // raw merged image, white unless given
  if (!form.merged.empty()) f.insert(f.end(), form.merged.begin(), form.merged.end());
  else f.insert(f.end(), static_cast<std::size_t>(form.channels) * width * (form.depth / 8), 255);
  return f;
}

// The composited pixel x as 8-bit RGB, flattened onto white.
Rgb PixelOf(FIBITMAP* image, unsigned x) {
  RGBQUAD q{};
  if (FreeImage_GetBPP(image) == 8) {
    BYTE index = 0;
    FreeImage_GetPixelIndex(image, x, 0, &index);
    q = FreeImage_GetPalette(image)[index];
  } else {
    FreeImage_GetPixelColor(image, x, 0, &q);
  }
  const double a = FreeImage_GetBPP(image) == 32 ? q.rgbReserved / 255.0 : 1.0;
  auto flat = [a](int v) { return static_cast<int>(std::lround(v * a + 255 * (1 - a))); };
  return Rgb{flat(q.rgbRed), flat(q.rgbGreen), flat(q.rgbBlue)};
}

LayerComposite Composite(const std::vector<std::uint8_t>& file) {
  const PsdHeaderCheck check = CheckPsdHeader(file);
  EXPECT_TRUE(check.ok) << check.problem;
  return CompositeLayers(ReadPsdDocument(file, check.header));
}

int Mix(int backdrop, int source, double a) { return static_cast<int>(std::lround(backdrop * (1 - a) + source * a)); }

const Rgb kBack{200, 100, 50};
const Rgb kTop{0, 64, 255};

TestLayer Background() {
  TestLayer l;
  l.colour = {kBack, kBack};
  return l;
}

TestLayer Top() {
  TestLayer l;
  l.colour = {kTop, kTop};
  l.alpha = {255, 255};
  return l;
}

// A vector mask block: one closed rectangle over [0, right) across the whole
// height, `right` a fraction of the width, as Photoshop keeps path points
// (8.24 fixed-point fractions of the canvas, vertical first).
std::vector<std::uint8_t> RectangleVectorMask(double right) {
  std::vector<std::uint8_t> block;
  Put(block, 3, 4);  // version
  Put(block, 0, 4);  // flags: neither inverted nor disabled
  auto record = [&block](int selector, const std::vector<std::uint32_t>& fields) {
    Put(block, static_cast<std::uint64_t>(selector), 2);
    for (const std::uint32_t f : fields) Put(block, f, 4);
    block.insert(block.end(), 24 - 4 * fields.size(), 0);
  };
  record(6, {});                          // the path fill rule record
  record(0, {(4u << 16) | 1u});           // a closed subpath of four knots, combined by union
  const auto fixed = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 16777216.0)); };
  for (const auto& [y, x] : {std::pair{0.0, 0.0}, {0.0, right}, {1.0, right}, {1.0, 0.0}}) {
    const std::uint32_t py = fixed(y), px = fixed(x);
    record(1, {py, px, py, px, py, px});  // control points on the anchor: straight edges
  }
  return block;
}

// A group's records: its end marker (below its layers) and its folder (above them).
TestLayer GroupEnd() {
  TestLayer l;
  l.section = 3;
  l.right = 0;
  return l;
}

TestLayer Folder(const char* mode) {
  TestLayer l;
  l.section = 1;
  l.right = 0;
  l.mode = mode;
  return l;
}

struct RuleCase {
  const char* name;
  std::vector<TestLayer> layers;
  Rgb expected[2];
};

std::vector<RuleCase> Cases() {
  std::vector<RuleCase> cases;
  const double half = 128 / 255.0;
  {
    TestLayer t = Top();
    t.opacity = 128;
    cases.push_back({"opacity", {Background(), t},
                     {{Mix(200, 0, half), Mix(100, 64, half), Mix(50, 255, half)},
                      {Mix(200, 0, half), Mix(100, 64, half), Mix(50, 255, half)}}});
  }
  {
    TestLayer t = Top();
    t.fill = 128;
    t.opacity = 128;  // fill and opacity multiply: 128 * 128 / 255 / 255
    const double a = half * half;
    cases.push_back({"fill_times_opacity", {Background(), t},
                     {{Mix(200, 0, a), Mix(100, 64, a), Mix(50, 255, a)},
                      {Mix(200, 0, a), Mix(100, 64, a), Mix(50, 255, a)}}});
  }
  {
    TestLayer t = Top();
    t.hidden = true;
    cases.push_back({"hidden", {Background(), t}, {kBack, kBack}});
  }
  {
    // The mask covers pixel 0 only, with 0 there; pixel 1 takes the default colour, 255.
    TestLayer t = Top();
    t.masked = true;
    t.maskLeft = 0;
    t.maskRight = 1;
    t.mask = {0};
    t.maskDefault = 255;
    cases.push_back({"mask_and_default_colour", {Background(), t}, {kBack, kTop}});
    t.maskDisabled = true;
    cases.push_back({"mask_disabled", {Background(), t}, {kTop, kTop}});
  }
  {
    // The base has pixels at 0 only; the layer clipped to it shows there alone.
    TestLayer base = Top();
    base.colour = {Rgb{10, 20, 30}, Rgb{10, 20, 30}};
    base.alpha = {255, 0};
    TestLayer clipped = Top();
    clipped.clipping = true;
    cases.push_back({"clipping", {Background(), base, clipped}, {kTop, kBack}});
    // Blended as a group, a base with no fill takes its clipped layer with
    // it; not so blended, the clipped layer is laid where the base has
    // pixels, whatever its fill, and multiplies what lies beneath.
    base.fill = 0;
    cases.push_back({"clipped_as_group_base_fill_0", {Background(), base, clipped}, {kBack, kBack}});
    base.blocks = {{"clbl", {0, 0, 0, 0}}};
    cases.push_back({"clipped_apart_base_fill_0", {Background(), base, clipped}, {kTop, kBack}});
    clipped.mode = "mul ";
    const Rgb product{0, static_cast<int>(std::lround(100 * 64 / 255.0)), 50};
    cases.push_back({"clipped_apart_multiplies_beneath", {Background(), base, clipped}, {product, kBack}});
  }
  {
    // Multiply inside a normal (isolated) group sees no backdrop: the layer shows as it is.
    // Passed through, it multiplies the background: 200*0/255, 100*64/255, 50*255/255.
    const TestLayer end = GroupEnd();
    TestLayer multiply = Top();
    multiply.mode = "mul ";
    TestLayer folder = Folder("norm");
    cases.push_back({"isolated_group", {Background(), end, multiply, folder}, {kTop, kTop}});
    folder.mode = "pass";
    const Rgb product{0, static_cast<int>(std::lround(100 * 64 / 255.0)), 50};
    cases.push_back({"pass_through_group", {Background(), end, multiply, folder}, {product, product}});
    // A pass-through group at half opacity fades between the background and what the group made.
    folder.opacity = 128;
    const Rgb faded{Mix(200, 0, half), Mix(100, product.g, half), 50};
    cases.push_back({"pass_through_group_opacity", {Background(), end, multiply, folder}, {faded, faded}});
    // A hidden group hides its layers.
    folder.opacity = 255;
    folder.hidden = true;
    cases.push_back({"hidden_group", {Background(), end, multiply, folder}, {kBack, kBack}});
  }
  {
    // Blend-if, worked out from the sliders: kTop's luminosity is
    // 0.59 * 64 + 0.11 * 255 = 65.8; a layer of grey 250 beside it.
    TestLayer t = Top();
    const Rgb light{250, 250, 250};
    t.colour = {kTop, light};
    const std::vector<std::uint8_t> open{0, 0, 255, 255, 0, 0, 255, 255};
    auto ranges = [&open](std::vector<std::uint8_t> grey, int channel = 0, std::vector<std::uint8_t> pair = {}) {
      std::vector<std::uint8_t> all;
      for (int i = 0; i < 4; ++i) {
        const std::vector<std::uint8_t>& r = i == 0 ? grey : i == channel ? pair : open;
        all.insert(all.end(), r.begin(), r.end());
      }
      return all;
    };
    // This layer's white slider at 100: the light pixel is hidden.
    t.ranges = ranges({0, 0, 100, 100, 0, 0, 255, 255});
    cases.push_back({"blend_if_this_layer", {Background(), t}, {kTop, kBack}});
    // Split at 40..120: 65.8 lets (120 - 65.8) / 80 of the pixel through.
    t.ranges = ranges({0, 0, 40, 120, 0, 0, 255, 255});
    const double through = (120 - 65.81) / 80;
    cases.push_back({"blend_if_split_slider",
                     {Background(), t},
                     {{Mix(200, 0, through), Mix(100, 64, through), Mix(50, 255, through)}, kBack}});
    // The underlying red's black slider at 150: shown over red 200, hidden
    // over red 100 (by a layer with no transparency, which else hides all).
    TestLayer under = Background();
    const Rgb grey{100, 100, 100};
    under.colour = {kBack, grey};
    t = Top();
    t.alpha.clear();
    t.ranges = ranges(open, 1, {0, 0, 255, 255, 150, 150, 255, 255});
    cases.push_back({"blend_if_underlying_channel", {under, t}, {kTop, grey}});
    // An adjustment layer weighs the adjusted colour as its own and the
    // colour it changes as the one beneath: inverted, red 200 is 55 and red 100 is 155.
    TestLayer invert;
    invert.right = 0;
    invert.blocks = {{"nvrt", {}}};
    invert.ranges = ranges(open, 1, {150, 150, 255, 255, 0, 0, 255, 255});
    cases.push_back({"blend_if_adjustment_this_layer", {under, invert}, {kBack, Rgb{155, 155, 155}}});
    invert.ranges = ranges(open, 1, {0, 0, 255, 255, 150, 150, 255, 255});
    cases.push_back({"blend_if_adjustment_underlying", {under, invert}, {Rgb{55, 155, 205}, grey}});
    // A group passed through weighs what its layers made against what was there.
    TestLayer folder = Folder("pass");
    folder.ranges = invert.ranges;
    cases.push_back({"blend_if_pass_through_group", {under, GroupEnd(), Top(), folder}, {kTop, grey}});
  }
  {
    // Knockout with no fill shows, within the layer, the stop it knocks out
    // to: the background outside groups; in a group passed through, where
    // the group began (shallow) or the background (deep).
    const Rgb kMid{10, 200, 10};
    TestLayer mid = Top();
    mid.colour = {kMid, kMid};
    TestLayer inner = Top();
    inner.colour = {Rgb{90, 90, 90}, Rgb{90, 90, 90}};
    TestLayer knock = Top();
    knock.fill = 0;
    knock.alpha = {255, 0};
    knock.blocks = {{"knko", {1, 0, 0, 0}}};
    cases.push_back({"knockout_outside_groups", {Background(), mid, knock}, {kBack, kMid}});
    const TestLayer end = GroupEnd(), folder = Folder("pass");
    cases.push_back({"knockout_shallow_in_group", {Background(), mid, end, inner, knock, folder}, {kMid, Rgb{90, 90, 90}}});
    knock.blocks = {{"knko", {2, 0, 0, 0}}};
    cases.push_back({"knockout_deep_in_group", {Background(), mid, end, inner, knock, folder}, {kBack, Rgb{90, 90, 90}}});
    // Half fill lays half the layer's colour over the stop; half opacity
    // knocks out half way.
    knock.fill = 128;
    cases.push_back({"knockout_half_fill", {Background(), mid, knock},
                     {{Mix(200, 0, half), Mix(100, 64, half), Mix(50, 255, half)}, kMid}});
    knock.fill = 0;
    knock.opacity = 128;
    cases.push_back({"knockout_half_opacity", {Background(), mid, knock},
                     {{Mix(10, 200, half), Mix(200, 100, half), Mix(10, 50, half)}, kMid}});
    // A half-covered edge at half fill, by PDF's knockout formula (psd-tools'
    // too): (1 - s) mid + s (1 - f) back + s f top, s and f one half.
    knock.opacity = 255;
    knock.fill = 128;
    knock.alpha = {128, 0};
    auto edge = [half](int m, int b, int t) {
      return static_cast<int>(std::lround((1 - half) * m + half * (1 - half) * b + half * half * t));
    };
    cases.push_back({"knockout_edge", {Background(), mid, knock},
                     {{edge(10, 200, 0), edge(200, 100, 64), edge(10, 50, 255)}, kMid}});
  }
  {
    // A vector mask over pixel 0 and half of pixel 1, on a layer whose pixel 1
    // holds a half-covered edge (alpha 128). A pixel layer's mask cuts that
    // edge by another half; a shape layer's pixels are its shape drawn
    // already, edge and all, and are laid as they are. Origination data alone
    // also marks a live shape drawn as a pixel layer's mask, which cuts.
    TestLayer t = Top();
    t.alpha = {255, 128};
    t.blocks = {{"vmsk", RectangleVectorMask(0.75)}};
    const double edge = 128 / 255.0;
    auto over = [](double a) { return Rgb{Mix(200, 0, a), Mix(100, 64, a), Mix(50, 255, a)}; };
    cases.push_back({"vector_mask_cuts_pixels", {Background(), t}, {kTop, over(edge / 2)}});
    t.blocks.push_back({"vogk", {0, 0, 0, 16}});
    cases.push_back({"vector_mask_with_live_shape_cuts_pixels", {Background(), t}, {kTop, over(edge / 2)}});
    for (const auto& [key, name] : {std::pair{"vscg", "shape_fill_pixels_hold_their_edge"},
                                    std::pair{"vstk", "shape_stroke_pixels_hold_their_edge"}}) {
      t.blocks = {{"vmsk", RectangleVectorMask(0.75)}, {key, {0, 0, 0, 16}}};
      cases.push_back({name, {Background(), t}, {kTop, over(edge)}});
    }
  }
  return cases;
}

TEST(LayerComposite, EachRuleGivesThePixelsItsFormulaGives) {
  for (const RuleCase& c : Cases()) {
    const LayerComposite result = Composite(MakeFile(2, c.layers, false));
    ASSERT_TRUE(result.image) << c.name << ": " << result.problem;
    for (unsigned x = 0; x < 2; ++x) {
      const Rgb got = PixelOf(result.image.get(), x);
      EXPECT_NEAR(got.r, c.expected[x].r, 1) << c.name << " pixel " << x;
      EXPECT_NEAR(got.g, c.expected[x].g, 1) << c.name << " pixel " << x;
      EXPECT_NEAR(got.b, c.expected[x].b, 1) << c.name << " pixel " << x;
    }
  }
}

// A dissolve layer shows each pixel whole or not at all, the share shown
// being its coverage: here opacity 128 over a long row, and, with its alpha
// at 64 besides, a quarter of that.
TEST(LayerComposite, DissolveShowsWholePixelsAsOftenAsTheCoverageSays) {
  constexpr std::uint32_t kWidth = 4096;
  TestLayer back;
  back.right = kWidth;
  back.colour.assign(kWidth, kBack);
  for (const int alpha : {255, 64}) {
    TestLayer top = back;
    top.colour.assign(kWidth, kTop);
    top.alpha.assign(kWidth, alpha);
    top.mode = "diss";
    top.opacity = 128;
    const LayerComposite result = Composite(MakeFile(kWidth, {back, top}, false));
    ASSERT_TRUE(result.image) << result.problem;
    int shown = 0, other = 0;
    for (unsigned x = 0; x < kWidth; ++x) {
      const Rgb p = PixelOf(result.image.get(), x);
      if (p.r == kTop.r && p.g == kTop.g && p.b == kTop.b) ++shown;
      else if (p.r != kBack.r || p.g != kBack.g || p.b != kBack.b) ++other;
    }
    EXPECT_EQ(other, 0) << alpha;
    EXPECT_NEAR(shown / static_cast<double>(kWidth), 128 / 255.0 * alpha / 255.0, 0.025) << alpha;
  }
}

// Descriptors as fill layers and layer styles store them, written value by value.
using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Id(const std::string& key) {
  const auto n = static_cast<std::uint32_t>(key.size() == 4 ? 0 : key.size());
  Bytes out{static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
  return out + Bytes(key.begin(), key.end());
}

Bytes Typed(const char* type, const Bytes& value) {
  Bytes out;
  PutKey(out, type);
  return out + value;
}

Bytes Double(double v) {
  Bytes out;
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put(out, bits, 8);
  return Typed("doub", out);
}

Bytes Long(std::int32_t v) {
  Bytes out;
  Put(out, static_cast<std::uint32_t>(v), 4);
  return Typed("long", out);
}

Bytes Bool(bool v) { return Typed("bool", Bytes{static_cast<std::uint8_t>(v)}); }

Bytes Enum(const char* type, const char* value) { return Typed("enum", Id(type) + Id(value)); }

Bytes Object(const char* cls, const std::vector<std::pair<std::string, Bytes>>& items) {
  Bytes out;
  Put(out, 0, 4);  // no display name
  out = out + Id(cls);
  Put(out, items.size(), 4);
  for (const auto& [key, value] : items) out = out + Id(key) + value;
  return out;
}

Bytes Objc(const char* cls, const std::vector<std::pair<std::string, Bytes>>& items) {
  return Typed("Objc", Object(cls, items));
}

Bytes List(const std::vector<Bytes>& values) {
  Bytes out;
  Put(out, values.size(), 4);
  for (const Bytes& v : values) out = out + v;
  return Typed("VlLs", out);
}

Bytes RgbColour(Rgb c) {
  return Objc("RGBC", {{"Rd  ", Double(c.r)}, {"Grn ", Double(c.g)}, {"Bl  ", Double(c.b)}});
}

// A two-stop gradient between two colour descriptors, mixed evenly (no smoothing), opaque throughout.
Bytes TwoStops(const Bytes& from, const Bytes& to) {
  auto stop = [](const Bytes& c, int location) {
    return Objc("Clrt", {{"Clr ", c}, {"Type", Enum("Clry", "UsrS")}, {"Lctn", Long(location)}, {"Mdpn", Long(50)}});
  };
  auto opaque = [](int location) {
    return Objc("TrnS", {{"Opct", Double(100)}, {"Lctn", Long(location)}, {"Mdpn", Long(50)}});
  };
  return Objc("Grdn", {{"Nm  ", Typed("TEXT", Bytes{0, 0, 0, 0})}, {"GrdF", Enum("GrdF", "CstS")},
                       {"Intr", Double(0)}, {"Clrs", List({stop(from, 0), stop(to, 4096)})},
                       {"Trns", List({opaque(0), opaque(4096)})}});
}

Bytes TwoStops(Rgb from, Rgb to) { return TwoStops(RgbColour(from), RgbColour(to)); }

Bytes Versioned(const Bytes& object) {
  Bytes out;
  Put(out, 16, 4);
  return out + object;
}

Bytes Style(const std::vector<std::pair<std::string, Bytes>>& effects) {
  Bytes out;
  Put(out, 0, 4);
  return out + Versioned(Object("null", effects));
}

// A fill layer as 16- and 32-bit files keep it: settings, and no pixels.
TestLayer FillLayer(const char* key, const Bytes& settings) {
  TestLayer l;
  l.left = l.right = 0;
  l.alpha = {};
  l.blocks = {{key, Versioned(settings)}};
  return l;
}

TEST(LayerComposite, FillLayersAndOverlaysGiveThePixelsTheirSettingsDescribe) {
  const Rgb red{255, 0, 0};
  const Rgb blue{0, 0, 255};
  // A horizontal gradient (angle 0) across four pixels: fills and overlays
  // both put the ends on whole pixels, here pixels 0 and 4 (a fill: the box's
  // edges, half a pixel from the outer centres, rounded halves to even; an
  // overlay: the box's middle pixel, 2, and two pixels either side), so pixel
  // x is x / 4 of the way.
  auto along = [](Rgb from, Rgb to, int x) {
    const double t = x / 4.0;
    return Rgb{Mix(from.r, to.r, t), Mix(from.g, to.g, t), Mix(from.b, to.b, t)};
  };
  // Mixed in linear light: the sRGB curve undone, the mix made, the curve applied again.
  auto alongInLight = [](Rgb from, Rgb to, int x) {
    const double t = x / 4.0;
    auto mix = [t](int a, int b) {
      auto decode = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
      const double l = decode(a / 255.0) * (1 - t) + decode(b / 255.0) * t;
      return static_cast<int>(std::lround(255 * (l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055)));
    };
    return Rgb{mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
  };
  TestLayer pixels;
  pixels.left = 0;
  pixels.right = 4;
  pixels.colour = {kTop, kTop, kTop, kTop};
  pixels.alpha = {255, 255, 255, 0};
  auto styled = [&](const std::vector<std::pair<std::string, Bytes>>& effects) {
    TestLayer l = pixels;
    l.blocks = {{"lfx2", Style(effects)}};
    return l;
  };
  auto gradientOverlay = [&](double opacity, bool enabled) {
    Bytes effect = Objc("GrFl", {{"enab", Bool(enabled)}, {"Md  ", Enum("BlnM", "Nrml")}, {"Opct", Double(opacity)},
                                 {"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)}, {"Grad", TwoStops(blue, red)}});
    return std::pair<std::string, Bytes>{"GrFl", effect};
  };
  const Bytes colourOverlay =
      Objc("SoFi", {{"enab", Bool(true)}, {"Md  ", Enum("BlnM", "Nrml")}, {"Opct", Double(100)}, {"Clr ", RgbColour(red)}});
  const Bytes dropShadow = Objc("DrSh", {{"enab", Bool(true)}, {"Md  ", Enum("BlnM", "Mltp")}, {"Opct", Double(75)}});

  auto onFill = [&](const std::vector<std::pair<std::string, Bytes>>& effects) {
    TestLayer l = FillLayer("SoCo", Object("null", {{"Clr ", RgbColour(kBack)}}));
    l.blocks.push_back({"lfx2", Style(effects)});
    return l;
  };
  // Half of the blue-to-red overlay at pixel x over `under`.
  auto halfOver = [&](Rgb under, int x) {
    const Rgb over = along(blue, red, x);
    return Rgb{Mix(under.r, over.r, 0.5), Mix(under.g, over.g, 0.5), Mix(under.b, over.b, 0.5)};
  };

  struct FillCase {
    const char* name;
    TestLayer layer;
    Rgb expected[4];
    int effectsLeftOut;
  };
  const Rgb white{255, 255, 255};
  const std::vector<FillCase> cases = {
      {"solid_colour_fill", FillLayer("SoCo", Object("null", {{"Clr ", RgbColour(kBack)}})),
       {kBack, kBack, kBack, kBack}, 0},
      {"linear_gradient_fill", FillLayer("GdFl", Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)},
                                                                  {"Grad", TwoStops(blue, red)}})),
       {along(blue, red, 0), along(blue, red, 1), along(blue, red, 2), along(blue, red, 3)}, 0},
      {"gradient_fill_mixed_in_linear_light",
       FillLayer("GdFl", Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)},
                                         {"gs99", Enum("gradientInterpolationMethodType", "Lnr ")},
                                         {"Grad", TwoStops(blue, red)}})),
       {alongInLight(blue, red, 0), alongInLight(blue, red, 1), alongInLight(blue, red, 2), alongInLight(blue, red, 3)},
       0},
      {"reversed_gradient_fill",
       FillLayer("GdFl", Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)}, {"Rvrs", Bool(true)},
                                         {"Grad", TwoStops(blue, red)}})),
       {along(red, blue, 0), along(red, blue, 1), along(red, blue, 2), along(red, blue, 3)}, 0},
      // The overlay repaints the layer where it has pixels; the transparent pixel stays so.
      {"gradient_overlay", styled({gradientOverlay(100, true)}),
       {along(blue, red, 0), along(blue, red, 1), along(blue, red, 2), white}, 0},
      {"gradient_overlay_half_opacity", styled({gradientOverlay(50, true)}),
       {Rgb{Mix(kTop.r, along(blue, red, 0).r, 0.5), Mix(kTop.g, 0, 0.5), Mix(kTop.b, along(blue, red, 0).b, 0.5)},
        Rgb{Mix(kTop.r, along(blue, red, 1).r, 0.5), Mix(kTop.g, 0, 0.5), Mix(kTop.b, along(blue, red, 1).b, 0.5)},
        Rgb{Mix(kTop.r, along(blue, red, 2).r, 0.5), Mix(kTop.g, 0, 0.5), Mix(kTop.b, along(blue, red, 2).b, 0.5)},
        white},
       0},
      {"disabled_overlay", styled({gradientOverlay(100, false)}), {kTop, kTop, kTop, white}, 0},
      // Fill opacity fades the layer's own pixels, not its overlays.
      {"overlay_at_no_fill_opacity", [&] {
         TestLayer l = styled({gradientOverlay(100, true)});
         l.fill = 0;
         return l;
       }(),
       {along(blue, red, 0), along(blue, red, 1), along(blue, red, 2), white}, 0},
      {"no_fill_opacity_without_overlays", [&] {
         TestLayer l = styled({gradientOverlay(100, false)});
         l.fill = 0;
         return l;
       }(),
       {white, white, white, white}, 0},
      // A colour overlay lies above a gradient overlay, whatever the order of the keys.
      {"colour_over_gradient_overlay", styled({{"SoFi", colourOverlay}, gradientOverlay(100, true)}),
       {red, red, red, white}, 0},
      // Without a transparency channel every pixel of the layer is there to repaint.
      {"colour_overlay_without_transparency", [&] {
         TestLayer l = styled({{"SoFi", colourOverlay}});
         l.alpha.clear();
         return l;
       }(),
       {red, red, red, red}, 0},
      // A fill drawn from its settings is repainted by its overlays like stored pixels.
      {"colour_overlay_on_solid_fill", onFill({{"SoFi", colourOverlay}}), {red, red, red, red}, 0},
      {"half_gradient_overlay_on_solid_fill", onFill({gradientOverlay(50, true)}),
       {halfOver(kBack, 0), halfOver(kBack, 1), halfOver(kBack, 2), halfOver(kBack, 3)}, 0},
      // Without fill opacity only the overlay is left, at its own opacity over nothing (white beneath).
      {"half_gradient_overlay_on_solid_fill_at_no_fill_opacity", [&] {
         TestLayer l = onFill({gradientOverlay(50, true)});
         l.fill = 0;
         return l;
       }(),
       {halfOver(white, 0), halfOver(white, 1), halfOver(white, 2), halfOver(white, 3)}, 0},
      {"drop_shadow_left_out", styled({{"DrSh", dropShadow}}), {kTop, kTop, kTop, white}, 1},
      {"style_switched_off", styled({{"masterFXSwitch", Bool(false)}, {"DrSh", dropShadow}}),
       {kTop, kTop, kTop, white}, 0},
  };
  // A layer with another clipped to it is made whole before it is laid
  // down, instead of being read as it is laid: the pixels are the same.
  TestLayer clippedAbove = Top();
  clippedAbove.clipping = true;
  clippedAbove.hidden = true;
  for (const FillCase& c : cases) {
    for (const bool madeWhole : {false, true}) {
      std::vector<TestLayer> layers{c.layer};
      if (madeWhole) layers.push_back(clippedAbove);
      const std::string name = std::string(c.name) + (madeWhole ? " made whole" : "");
      const LayerComposite result = Composite(MakeFile(4, layers, false));
      ASSERT_TRUE(result.image) << name << ": " << result.problem;
      EXPECT_EQ(result.effectsSkipped, c.effectsLeftOut) << name;
      EXPECT_EQ(result.adjustmentsSkipped, 0) << name;
      for (unsigned x = 0; x < 4; ++x) {
        const Rgb got = PixelOf(result.image.get(), x);
        EXPECT_NEAR(got.r, c.expected[x].r, 1) << name << " pixel " << x;
        EXPECT_NEAR(got.g, c.expected[x].g, 1) << name << " pixel " << x;
        EXPECT_NEAR(got.b, c.expected[x].b, 1) << name << " pixel " << x;
      }
    }
  }
}

// A fill's colour is drawn in the file's own samples, whatever space its
// settings give it in. Each case's merged image holds the samples expected
// from the descriptor's numbers (across spaces, from Photoshop's own
// conversion of the same colour; CMYK without a profile takes RGB's darkness
// as black and the rest as the other inks), and the composite must show as
// that merged image does.
// An artboard shows its layers within its rectangle (here pixel 0 alone),
// over its background: white, black, none, or a colour of its own.
TEST(LayerComposite, ArtboardsShowTheirLayersWithinTheirRectangleOverTheirBackground) {
  const Rgb red{255, 0, 0};
  const double half = 128 / 255.0;
  auto over = [half](const Rgb& under) {
    return Rgb{Mix(under.r, kTop.r, half), Mix(under.g, kTop.g, half), Mix(under.b, kTop.b, half)};
  };
  const struct {
    int type;
    Rgb expected;
  } kCases[] = {{1, over({255, 255, 255})}, {2, over({0, 0, 0})}, {3, over(kBack)}, {4, over(red)}};
  for (const auto& c : kCases) {
    TestLayer top = Top();
    top.alpha = {128, 128};
    TestLayer folder = Folder("pass");
    const Bytes rect = Objc("classFloatRect", {{"Top ", Double(0)}, {"Left", Double(0)}, {"Btom", Double(1)},
                                               {"Rght", Double(1)}});
    folder.blocks = {{"artb", Versioned(Object("artboard", {{"artboardRect", rect}, {"Clr ", RgbColour(red)},
                                                            {"artboardBackgroundType", Long(c.type)}}))}};
    const LayerComposite result = Composite(MakeFile(2, {Background(), GroupEnd(), top, folder}, false));
    ASSERT_TRUE(result.image) << c.type << ": " << result.problem;
    const Rgb inside = PixelOf(result.image.get(), 0), outside = PixelOf(result.image.get(), 1);
    EXPECT_NEAR(inside.r, c.expected.r, 1) << c.type;
    EXPECT_NEAR(inside.g, c.expected.g, 1) << c.type;
    EXPECT_NEAR(inside.b, c.expected.b, 1) << c.type;
    EXPECT_EQ(outside.r, kBack.r) << c.type;
    EXPECT_EQ(outside.b, kBack.b) << c.type;
  }
}

TEST(LayerComposite, FillColoursAreDrawnInTheSamplesOfTheFileMode) {
  auto cmyk = [](double c, double m, double y, double k) {
    return Objc("CMYC", {{"Cyn ", Double(c)}, {"Mgnt", Double(m)}, {"Ylw ", Double(y)}, {"Blck", Double(k)}});
  };
  const Bytes labRed = Objc("LbCl", {{"Lmnc", Double(54.29)}, {"A   ", Double(80.8)}, {"B   ", Double(69.89)}});
  auto solid = [](const Bytes& colour) { return FillLayer("SoCo", Object("null", {{"Clr ", colour}})); };
  const Bytes inkGradient = TwoStops(cmyk(100, 100, 0, 0), cmyk(0, 100, 100, 0));
  // Four pixels of 16-bit samples, fractions given per pixel in file channel order.
  auto form = [](int mode, const std::vector<std::vector<double>>& pixels) {
    FileForm f{mode, 16, static_cast<int>(pixels[0].size()), {}, {}, {}};
    for (std::size_t c = 0; c < pixels[0].size(); ++c) {
      for (const auto& pixel : pixels) Put(f.merged, static_cast<std::uint64_t>(std::lround(pixel[c] * 65535)), 2);
    }
    return f;
  };
  const std::vector<double> labRedSamples{0.5429, (80.8 * 256 + 32768) / 65535, (69.89 * 256 + 32768) / 65535};
  const std::vector<double> inkRed{1, 0, 0, 1}, inkBlue{0, 0, 1, 1};
  // Across the gradient (angle 0) pixel x is x / 4 of the way from blue to red (ends on whole pixels).
  auto mixed = [&](int x) {
    const double t = x / 4.0;
    return std::vector<double>{t, 0, 1 - t, 1};
  };
  struct ModeCase {
    const char* name;
    TestLayer layer;
    FileForm form;
  };
  const std::vector<ModeCase> cases = {
      {"lab_colour_in_lab", solid(labRed), form(9, {labRedSamples, labRedSamples, labRedSamples, labRedSamples})},
      {"rgb_colour_in_lab", solid(RgbColour(Rgb{255, 0, 0})),
       form(9, {labRedSamples, labRedSamples, labRedSamples, labRedSamples})},
      {"cmyk_colour_in_cmyk", solid(cmyk(0, 100, 100, 0)), form(4, {inkRed, inkRed, inkRed, inkRed})},
      {"hsb_colour_in_cmyk",
       solid(Objc("HSBC", {{"H   ", Double(240)}, {"Strt", Double(100)}, {"Brgh", Double(100)}})),
       form(4, {inkBlue, inkBlue, inkBlue, inkBlue})},
      {"cmyk_gradient_in_cmyk",
       FillLayer("GdFl", Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)}, {"Grad", inkGradient}})),
       form(4, {mixed(0), mixed(1), mixed(2), mixed(3)})},
  };
  for (const ModeCase& c : cases) {
    const std::vector<std::uint8_t> file = MakeFile(4, {c.layer}, true, c.form);
    const LayerComposite result = Composite(file);
    ASSERT_TRUE(result.image) << c.name << ": " << result.problem;
    EXPECT_EQ(result.adjustmentsSkipped, 0) << c.name;
    const ImagePtr merged = DecodeMergedImage(ReadPsdDocument(file, CheckPsdHeader(file).header));
    ASSERT_TRUE(merged) << c.name;
    for (unsigned x = 0; x < 4; ++x) {
      const Rgb got = PixelOf(result.image.get(), x);
      const Rgb expected = PixelOf(merged.get(), x);
      EXPECT_NEAR(got.r, expected.r, 1) << c.name << " pixel " << x;
      EXPECT_NEAR(got.g, expected.g, 1) << c.name << " pixel " << x;
      EXPECT_NEAR(got.b, expected.b, 1) << c.name << " pixel " << x;
    }
  }
}

// A pattern fill is the file's stored pattern repeated from the canvas's
// corner, at its scale: here a red and blue pair of pixels, then the same
// pair twice as wide (each pixel mixing the two samples around its corner).
TEST(LayerComposite, PatternFillsRepeatTheFilesStoredPattern) {
  const Bytes pair = test::Block({test::Pattern(3, "pair", {{{255, 0}}, {{0, 0}}, {{0, 255}}}, true)});
  struct Case {
    double scale;
    std::vector<Rgb> expected;
  };
  const Case cases[] = {
      {100, {{255, 0, 0}, {0, 0, 255}, {255, 0, 0}, {0, 0, 255}}},
      {200, {{255, 0, 0}, {128, 0, 128}, {0, 0, 255}, {128, 0, 128}}},
  };
  for (const Case& c : cases) {
    // The pattern is named by its id, written as the descriptor's text.
    const Bytes id = Typed("TEXT", Bytes{0, 0, 0, 5, 0, 'p', 0, 'a', 0, 'i', 0, 'r', 0, 0});
    const Bytes ptrn = Objc("Ptrn", {{"Idnt", id}});
    const TestLayer fill = FillLayer("PtFl", Object("null", {{"Ptrn", ptrn}, {"Scl ", Double(c.scale)}}));
    FileForm form{3, 16, 3, {}, {}, pair};
    form.merged.assign(4 * 3 * 2, 0);
    const LayerComposite result = Composite(MakeFile(4, {fill}, false, form));
    ASSERT_TRUE(result.image) << c.scale;
    EXPECT_EQ(result.adjustmentsSkipped, 0) << c.scale;
    // The picture is of 16-bit samples: read as 8-bit.
    FIBITMAP* bytes = FreeImage_ConvertToType(result.image.get(), FIT_BITMAP);
    ASSERT_NE(bytes, nullptr);
    for (unsigned x = 0; x < 4; ++x) {
      const Rgb got = PixelOf(bytes, x);
      EXPECT_NEAR(got.r, c.expected[x].r, 1) << c.scale << " pixel " << x;
      EXPECT_NEAR(got.b, c.expected[x].b, 1) << c.scale << " pixel " << x;
    }
    FreeImage_Unload(bytes);
  }
}

// A pattern overlay linked with its layer starts at the layer's reference
// point ('fxrp', which Photoshop moves with the layer; the phase stays as
// set): one pixel right of the corner here, so the red and blue pair starts
// with blue. Not linked, it starts at the canvas's corner wherever the layer is.
TEST(LayerComposite, ALinkedPatternOverlayStartsAtTheLayersReferencePoint) {
  const Bytes pair = test::Block({test::Pattern(3, "pair", {{{255, 0}}, {{0, 0}}, {{0, 255}}}, true)});
  const Bytes id = Typed("TEXT", Bytes{0, 0, 0, 5, 0, 'p', 0, 'a', 0, 'i', 0, 'r', 0, 0});
  Bytes reference;
  for (const double v : {1.0, 0.0}) Put(reference, std::bit_cast<std::uint64_t>(v), 8);
  const Rgb red{255, 0, 0}, blue{0, 0, 255};
  struct Case {
    bool linked;
    Rgb expected[4];
  };
  for (const Case& c : {Case{true, {blue, red, blue, red}}, Case{false, {red, blue, red, blue}}}) {
    const Bytes overlay = Objc("patternFill", {{"enab", Bool(true)}, {"Md  ", Enum("BlnM", "Nrml")},
                                               {"Opct", Double(100)}, {"Ptrn", Objc("Ptrn", {{"Idnt", id}})},
                                               {"Algn", Bool(c.linked)}});
    TestLayer layer;
    layer.right = 4;
    layer.colour.assign(4, kTop);
    layer.alpha.assign(4, 255);
    layer.blocks = {{"lfx2", Style({{"patternFill", overlay}})}, {"fxrp", reference}};
    const LayerComposite result = Composite(MakeFile(4, {layer}, false, FileForm{3, 8, 3, {}, {}, pair}));
    ASSERT_TRUE(result.image) << c.linked << ": " << result.problem;
    EXPECT_EQ(result.effectsSkipped, 0) << c.linked;
    for (unsigned x = 0; x < 4; ++x) {
      const Rgb got = PixelOf(result.image.get(), x);
      EXPECT_NEAR(got.r, c.expected[x].r, 1) << "linked " << c.linked << " pixel " << x;
      EXPECT_NEAR(got.b, c.expected[x].b, 1) << "linked " << c.linked << " pixel " << x;
    }
  }
}

// A pattern fill whose pattern the file does not store, or a fill whose
// settings are damaged, is left out and counted.
TEST(LayerComposite, FillLayersThatCannotBeDrawnAreCountedAsLeftOut) {
  const Bytes settings = Versioned(Object("null", {{"Clr ", RgbColour(kTop)}}));
  const std::vector<std::pair<std::string, Bytes>> fills = {
      {"PtFl", settings},
      {"SoCo", Bytes(settings.begin(), settings.end() - 9)},  // cut short
      {"SoCo", Versioned(Object("null", {{"Clr ", Objc("CMYC", {{"Cyn ", Double(50)}})}}))},
  };
  for (const auto& [key, block] : fills) {
    TestLayer fill;
    fill.left = fill.right = 0;
    fill.blocks = {{key, block}};
    TestLayer background = Background();
    background.right = 2;
    const LayerComposite result = Composite(MakeFile(2, {background, fill}, false));
    ASSERT_TRUE(result.image) << key;
    EXPECT_EQ(result.adjustmentsSkipped, 1) << key;
    EXPECT_EQ(result.layersDrawn, 1) << key;
    const Rgb got = PixelOf(result.image.get(), 0);
    EXPECT_EQ(got.r, kBack.r) << key;
  }
}

// A plain black-to-white gradient across a row is the fraction of the way
// each pixel centre lies, whether the row is short (each pixel sampled) or
// long enough to be drawn from the painter's table.
// An adjustment layer changes the colour beneath it, never its alpha, by its
// opacity and mask; the expected values are each adjustment's formula on the
// backdrop, typed out.
TEST(LayerComposite, AdjustmentLayersChangeTheColourBeneathThem) {
  auto adjustment = [](const char* key, std::vector<std::uint8_t> settings, int opacity = 255) {
    TestLayer l;
    l.right = 0;  // no pixels of its own: it covers the whole picture
    l.opacity = opacity;
    l.blocks = {{key, std::move(settings)}};
    return l;
  };
  TestLayer half = Background();  // the second pixel half covered
  half.alpha = {255, 128};
  std::vector<std::uint8_t> levels = {0, 2};  // version, then the composite record
  for (const int v : {0, 200, 0, 255, 100}) Put(levels, static_cast<std::uint64_t>(v), 2);
  std::vector<std::uint8_t> mixer = {0, 1, 0, 0};  // version, not monochrome, then red, green and blue out
  for (const int v : {0, 0, 100, 0, 0, 100, 0, 0, 0, 0, 0, 100, 0, 0, 0}) Put(mixer, static_cast<std::uint64_t>(v), 2);
  // Curves drawn freehand: the map flag, version 1, the composite's bit, then its 256 outputs (turned round).
  std::vector<std::uint8_t> freehand = {1, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 256; ++i) freehand.push_back(static_cast<std::uint8_t>(255 - i));
  // Hue/saturation in the older block: colourised to hue 0 at full saturation.
  std::vector<std::uint8_t> olderHue = {0, 2, 1, 0, 0, 0, 0, 100};
  olderHue.resize(4 + 6 + 6 + 6 * 14, 0);  // lightness 0, the master and the ranges unchanged
  struct Case {
    const char* name;
    TestLayer adjustment;
    Rgb expected;  // the first pixel, fully covered
  };
  const Case cases[] = {
      {"invert", adjustment("nvrt", {}), {255 - kBack.r, 255 - kBack.g, 255 - kBack.b}},
      {"invert at half opacity", adjustment("nvrt", {}, 128),
       {Mix(kBack.r, 255 - kBack.r, 128 / 255.0), Mix(kBack.g, 255 - kBack.g, 128 / 255.0),
        Mix(kBack.b, 255 - kBack.b, 128 / 255.0)}},
      // Four levels: the bands 0-63, 64-127, 128-191, 192-255 become 0, 85, 170, 255.
      {"posterize", adjustment("post", {0, 4, 0, 0}), {255, 85, 0}},
      // Luminance 0.3 R + 0.59 G + 0.11 B = 124.5: white over a level of 120, black under 130.
      {"threshold white", adjustment("thrs", {0, 120, 0, 0}), {255, 255, 255}},
      {"threshold black", adjustment("thrs", {0, 130, 0, 0}), {0, 0, 0}},
      // Input white point 200: 200 -> 255, 100 -> 128, 50 -> 64.
      {"levels", adjustment("levl", levels), {255, 128, 64}},
      // Red from blue, green from red, blue from green.
      {"channel mixer", adjustment("mixr", mixer), {kBack.b, kBack.r, kBack.g}},
      {"curves drawn freehand", adjustment("curv", freehand), {255 - kBack.r, 255 - kBack.g, 255 - kBack.b}},
      // Lightness (200 + 50) / 2 = 125 keeps; full saturation at hue 0 gives 2 * 125 and 0.
      {"hue/saturation, older block", adjustment("hue ", olderHue), {250, 0, 0}},
  };
  for (const Case& c : cases) {
    const LayerComposite result = Composite(MakeFile(2, {half, c.adjustment}, true));
    ASSERT_TRUE(result.image) << c.name << ": " << result.problem;
    EXPECT_EQ(result.adjustmentsSkipped, 0u) << c.name;
    RGBQUAD first{}, second{};
    FreeImage_GetPixelColor(result.image.get(), 0, 0, &first);
    FreeImage_GetPixelColor(result.image.get(), 1, 0, &second);
    EXPECT_NEAR(first.rgbRed, c.expected.r, 1) << c.name;
    EXPECT_NEAR(first.rgbGreen, c.expected.g, 1) << c.name;
    EXPECT_NEAR(first.rgbBlue, c.expected.b, 1) << c.name;
    // The half-covered pixel keeps its coverage and takes the same colour.
    EXPECT_EQ(second.rgbReserved, 128) << c.name;
    EXPECT_NEAR(second.rgbRed, c.expected.r, 1) << c.name;
  }
  // A colour lookup without a table it can read is counted, and the picture beneath is left alone.
  const LayerComposite left = Composite(MakeFile(2, {half, adjustment("clrL", {0, 1, 0, 0})}, true));
  EXPECT_EQ(left.adjustmentsSkipped, 1u);
  EXPECT_EQ(PixelOf(left.image.get(), 0).r, kBack.r);
  // The line for the user names the kinds left out, each once, whatever block holds them.
  LayerRebuildNote note;
  note.rebuilt = 1;
  note.layers = 3;
  note.effectsSkipped = 1;
  note.adjustmentsSkipped = 3;
  note.kindsLeftOut = left.kindsLeftOut | AdjustmentKindBit("PtFl") | AdjustmentKindBit("hue ") |
                      AdjustmentKindBit("hue2") | (1u << 31);
  EXPECT_EQ(DescribeRebuild(note), "the picture was rebuilt from 3 layers (1 layer style not drawn; 3 adjustment or "
                                   "fill layers not drawn: hue/saturation, colour lookup and pattern fill)");
}

// Adjustments against Photoshop's own pictures: a pixel beneath and what
// Photoshop made of it, read from its pictures of the psd-fx corpus files and
// of psd-tools' adjustment test files (whose pixels beneath are a plain layer).
TEST(LayerComposite, AdjustmentsMatchPhotoshopsPictures) {
  auto shorts = [](std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) Put(out, static_cast<std::uint16_t>(v), 2);
    return out;
  };
  const Bytes currentContrast = Versioned(Object("null", {{"Vrsn", Long(1)}, {"Brgh", Long(0)}, {"Cntr", Long(100)},
                                                         {"means", Long(127)}, {"useLegacy", Bool(false)}}));
  // Hue/saturation: version, colourise, the colourising hue, saturation and
  // lightness, the master's, then six ranges of four hues and three settings.
  auto colourise = [&](int hue, int saturation, int lightness) {
    Bytes out = shorts({2}) + Bytes{1, 0} + shorts({hue, saturation, lightness, 0, 0, 0});
    for (int range = 0; range < 6; ++range) out = out + shorts({0, 0, 0, 0, 0, 0, 0});
    return out;
  };
  // Colour balance: shadows, midtones, highlights, then preserve luminosity.
  const Bytes balance = shorts({50, 0, -50, 0, 0, 0, 0, 0, 0}) + Bytes{1, 0};
  // Photo filter: version 2, Lab (L 0..10000, a and b times 100), density 25%, keeping luminosity.
  const Bytes warming = shorts({2, 7, 6706, 3200, 12000, 0, 0, 25}) + Bytes{1, 0};
  // Blocks as the files hold them, typed out byte by byte.
  auto hex = [](std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
      out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    }
    return out;
  };
  // Gradient map, as adj_zoo_gradient-map-flat holds it: version 3, the
  // "Custom" gradient from (0, 0x807f, 0) to (0xffff, 0xc8c7, 0), two opacity stops.
  const Bytes gradientMap = hex(
      "0003000047636c73000000070043007500730074006f006d000000020000000000000032000000000000807f00000000000010000000"
      "00320000ffffc8c70000000000000002000000000000003200ff000010000000003200ff00021000002000002132884500000000000008"
      "0000030000000000000000800080008000800000000000");
  // The left quarter's adjustments of psd-tools' levels_rgb (its composite
  // and red, green and blue records), curves_rgb and exposure_rgb.
  const Bytes levels = hex("0002002200ff000000cb0074000000ff000000ff0064000000de003700ff003f000000ff000000ff0064");
  const Bytes curves = hex(
      "0000010000000f00020000000000ff00c80005003c003100da005e0000006600e500b9002400c300020000000000d500ff0004000000"
      "0000750050009900be00ff00ff43727620000400000004000000020000000000ff00c800010005003c003100da005e0000006600e500b9"
      "002400c3000200020000000000d500ff000300040000000000750050009900be00ff00ff000000");
  const Bytes exposure = hex("0001bfe8f5c33df65fd93f8000000000");
  // The left quarter's hue/saturation of huesaturation_saturation_rgb and
  // huesaturation_lightness_rgb: per-range saturation, then lightness, edits.
  const Bytes rangeSaturation = hex(
      "00020000fff60019000000000000000000cd00f5010201350000ff9c000000d600ed00f801110000ffee0000013b01590010002e0000"
      "000f00000146015b002a004100000049000000f601150144015000000000000000d600f501130131000000000000");
  const Bytes rangeLightness = hex(
      "00020000fff60019000000000000004c006f00bf0117000800000000ff9c000f002d004b006900000000ffac004b0069008700a50000"
      "00000000008700a500c300e100000000ffd900f601150144015000000000000000d600f50113013100000000ffde");
  const Bytes vibrance = Versioned(Object("null", {{"vibrance", Long(50)}, {"Strt", Long(20)}}));
  // Black and white: the grey each hue gives, in percent.
  const Bytes blackAndWhite = Versioned(Object("null", {{"Rd  ", Long(40)}, {"Yllw", Long(60)}, {"Grn ", Long(40)},
                                                       {"Cyn ", Long(60)}, {"Bl  ", Long(20)}, {"Mgnt", Long(80)},
                                                       {"useTint", Bool(false)}}));
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> blocks;
    Rgb beneath, photoshop;
  };
  const Case cases[] = {
      {"contrast +100 (adj_p2s_brightness-contrast)", {{"brit", Bytes(8, 0)}, {"CgEd", currentContrast}},
       {22, 33, 132}, {8, 14, 135}},
      {"legacy brightness 20, contrast 57 (brightnesscontrast_legacy_rgb)", {{"brit", shorts({20, 57, 127}) + Bytes{0, 0}}},
       {98, 117, 136}, {106, 150, 194}},
      {"legacy, clipped", {{"brit", shorts({20, 57, 127}) + Bytes{0, 0}}}, {72, 48, 55}, {46, 0, 6}},
      {"colour balance, shadows (adj_p2s_color-balance)", {{"blnc", balance}}, {22, 34, 132}, {22, 0, 53}},
      {"colour balance, light", {{"blnc", balance}}, {253, 188, 188}, {253, 172, 145}},
      {"colourise 31, 100, -47 (huesaturation_colorize_rgb)", {{"hue2", colourise(31, 100, -47)}},
       {141, 144, 151}, {156, 81, 0}},
      {"colourise, dark", {{"hue2", colourise(31, 100, -47)}}, {82, 55, 40}, {66, 34, 0}},
      {"colourise -106, 25, 46", {{"hue2", colourise(-106, 25, 46)}}, {111, 110, 116}, {168, 159, 197}},
      {"photo filter (adj_zoo_photo-filter-flat)", {{"phfl", warming}}, {150, 180, 200}, {163, 176, 187}},
      {"gradient map (adj_zoo_gradient-map-flat)", {{"grdm", gradientMap}}, {150, 100, 50}, {105, 82, 75}},
      {"levels (levels_rgb at 10, 40)", {{"levl", levels}}, {100, 60, 52}, {72, 53, 24}},
      {"levels (levels_rgb at 40, 140)", {{"levl", levels}}, {116, 112, 144}, {87, 92, 111}},
      {"curves (curves_rgb at 10, 40)", {{"curv", curves}}, {100, 60, 52}, {68, 64, 111}},
      {"curves (curves_rgb at 30, 60)", {{"curv", curves}}, {82, 62, 59}, {255, 66, 122}},
      {"exposure (exposure_rgb at 10, 40)", {{"expA", exposure}}, {100, 60, 52}, {110, 102, 100}},
      {"exposure (exposure_rgb at 25, 100)", {{"expA", exposure}}, {134, 132, 138}, {120, 119, 121}},
      {"posterize 3 (posterize_rgb at 10, 40)", {{"post", shorts({3, 0})}}, {100, 60, 52}, {127, 0, 0}},
      {"invert (invert_rgb at 150, 100)", {{"nvrt", Bytes{}}}, {88, 104, 140}, {167, 151, 115}},
      // Version 1, relative, every range's inks 0: nothing changes.
      {"selective colour (adj_zoo_selective-color-flat)", {{"selc", shorts({1, 0}) + Bytes(80, 0)}}, {200, 50, 50},
       {200, 50, 50}},
      // Luminance 60.1 and 59.4 either side of the level 60.
      {"threshold 60 (threshold_rgb at 0, 126)", {{"thrs", shorts({60, 0})}}, {71, 57, 47}, {255, 255, 255}},
      {"threshold 60 (threshold_rgb at 15, 33)", {{"thrs", shorts({60, 0})}}, {90, 49, 32}, {0, 0, 0}},
      {"range saturation (huesaturation_saturation_rgb at 10, 40)", {{"hue2", rangeSaturation}}, {100, 60, 52}, {152, 26, 0}},
      {"range saturation (huesaturation_saturation_rgb at 30, 60)", {{"hue2", rangeSaturation}}, {82, 62, 59}, {114, 37, 26}},
      {"range lightness (huesaturation_lightness_rgb at 10, 40)", {{"hue2", rangeLightness}}, {100, 60, 52}, {217, 208, 206}},
      {"range lightness (huesaturation_lightness_rgb at 25, 100)", {{"hue2", rangeLightness}}, {134, 132, 138}, {225, 225, 225}},
      {"vibrance 50, saturation 20 (adj_zoo_vibrance-flat)", {{"vibA", vibrance}}, {200, 150, 100}, {207, 144, 63}},
      {"black and white (adj_zoo_black-white-flat)", {{"blwh", blackAndWhite}}, {200, 150, 100}, {150, 150, 150}},
  };
  for (const Case& c : cases) {
    TestLayer beneath;
    beneath.colour = {c.beneath, c.beneath};
    TestLayer adjustment;
    adjustment.right = 0;
    adjustment.blocks = c.blocks;
    const LayerComposite result = Composite(MakeFile(2, {beneath, adjustment}, true));
    ASSERT_TRUE(result.image) << c.name << ": " << result.problem;
    EXPECT_EQ(result.adjustmentsSkipped, 0) << c.name;
    const Rgb got = PixelOf(result.image.get(), 0);
    // Within two steps: Photoshop's own tables round differently.
    EXPECT_NEAR(got.r, c.photoshop.r, 2) << c.name;
    EXPECT_NEAR(got.g, c.photoshop.g, 2) << c.name;
    EXPECT_NEAR(got.b, c.photoshop.b, 2) << c.name;
  }
}

// Adjustment settings beyond Photoshop's ranges, as the fuzzer made them: the
// picture is still drawn, every sample a number in range (the sanitizer
// build stops on a conversion out of range).
TEST(LayerComposite, AdjustmentSettingsBeyondTheirRangesStillGiveAPicture) {
  auto shorts = [](std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) Put(out, static_cast<std::uint16_t>(v), 2);
    return out;
  };
  // Exposure: version, then exposure (8240 stops), offset and gamma (4.9e36) as floats.
  const Bytes exposure = shorts({1, 0x4600, 0xC060, 0, 0x6678, 0x7C6B, 0x6E64});
  // Photo filter, Lab: a negative a (-40.96, stored as 0xF000) and b at 0; density 25 %, keeping luminosity.
  const Bytes greenish = shorts({2, 7, 5000, 0xF000, 0, 0, 0, 25}) + Bytes{1, 0};
  struct Case {
    const char* name;
    std::pair<std::string, Bytes> block;
    Rgb beneath;
    std::function<bool(Rgb)> expected;
  };
  const Case cases[] = {
      // Black stays a dark grey: the offset, almost nothing, is raised to the (clamped) gamma's power.
      {"huge exposure keeps black dark", {"expA", exposure}, {0, 0, 0},
       [](Rgb p) { return p.r == p.g && p.g == p.b && p.r < 16; }},
      {"huge exposure makes grey white", {"expA", exposure}, {90, 90, 90}, [](Rgb p) { return p.r == 255 && p.g == 255; }},
      {"photo filter with a negative a greens grey", {"phfl", greenish}, {128, 128, 128},
       [](Rgb p) { return p.g > p.r && p.g > p.b; }},
  };
  for (const Case& c : cases) {
    TestLayer beneath;
    beneath.colour = {c.beneath, c.beneath};
    TestLayer adjustment;
    adjustment.right = 0;
    adjustment.blocks = {c.block};
    const LayerComposite result = Composite(MakeFile(2, {beneath, adjustment}, true));
    ASSERT_TRUE(result.image) << c.name << ": " << result.problem;
    EXPECT_EQ(result.adjustmentsSkipped, 0) << c.name;
    const Rgb got = PixelOf(result.image.get(), 0);
    EXPECT_TRUE(c.expected(got)) << c.name << ": " << got.r << " " << got.g << " " << got.b;
  }
}

// Black and white's tint colours the grey it gives (150 here, Photoshop's
// grey in adj_zoo_black-white-flat) and keeps its luminosity: the tint moved
// by 150 - (0.3 * 225 + 0.59 * 211 + 0.11 * 179) = -61.7 on every channel.
TEST(LayerComposite, BlackAndWhiteTintColoursTheGreyAndKeepsItsLuminosity) {
  const Bytes tinted = Versioned(Object("null", {{"Rd  ", Long(40)}, {"Yllw", Long(60)}, {"Grn ", Long(40)},
                                                {"Cyn ", Long(60)}, {"Bl  ", Long(20)}, {"Mgnt", Long(80)},
                                                {"useTint", Bool(true)}, {"tintColor", RgbColour({225, 211, 179})}}));
  TestLayer beneath;
  beneath.colour = {{200, 150, 100}, {200, 150, 100}};
  TestLayer adjustment;
  adjustment.right = 0;
  adjustment.blocks = {{"blwh", tinted}};
  const LayerComposite result = Composite(MakeFile(2, {beneath, adjustment}, true));
  ASSERT_TRUE(result.image) << result.problem;
  EXPECT_EQ(result.adjustmentsSkipped, 0);
  const Rgb got = PixelOf(result.image.get(), 0);
  EXPECT_NEAR(got.r, 163, 1);
  EXPECT_NEAR(got.g, 149, 1);
  EXPECT_NEAR(got.b, 117, 1);
}

// An effect's gradient across a row runs from the row's first pixel (the
// middle pixel less half the row) to the pixel just past its end.
TEST(LayerComposite, GradientsAreTheirFormulaOverShortAndLongRows) {
  Gradient g;
  g.angle = 0;
  g.smoothness = 0;
  g.colours = {GradientStop{0, 0.5, {0, 0, 0, 0}}, GradientStop{1, 0.5, {1, 1, 1, 0}}};
  for (const std::int32_t width : {100, 20000}) {
    const PsdRect row{0, 0, 1, width};
    std::vector<float> colour(static_cast<std::size_t>(width) * 3);
    std::vector<float> opacity(static_cast<std::size_t>(width));
    GradientPainter(g, row, 3, width).Paint(row, colour.data(), opacity.data());
    float worst = 0;
    for (std::int32_t x = 0; x < width; ++x) {
      const float expected = static_cast<float>(x) / static_cast<float>(width);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(colour[static_cast<std::size_t>(x) * 3 + c] - expected));
      EXPECT_EQ(opacity[static_cast<std::size_t>(x)], 1.0f) << width << " " << x;
    }
    EXPECT_LT(worst, 1e-4f) << width;
  }
}

// Values at chosen pixels worked out by hand from Photoshop's gradient
// geometry (as its pictures of gradient overlays show it), for a
// black-to-white gradient without easing over a box 101 pixels square: the
// centre is the middle pixel, (50, 50), and the ends lie half the length
// from it cut to whole pixels, 50 pixels away. A radial one's value is the
// distance from the centre over 50; an angle one's sweeps clockwise from its
// angle (0: to the right), a quarter to a quarter turn; at a stop's midpoint
// the mix is half and half.
TEST(LayerComposite, GradientShapesAndMidpointsGivePhotoshopsValues) {
  struct Case {
    const char* name;
    Gradient::Style style;
    double midpoint;  // of the first stop
    PsdRect box;
    std::int32_t x, y;
    float expected;
    double angle = 0;
  };
  const PsdRect square{0, 0, 101, 101};
  const PsdRect row{0, 0, 1, 4};  // a linear gradient's values here are 0, 0.25, 0.5 and 0.75
  const Case cases[] = {
      {"radial_off_the_axes", Gradient::Style::Radial, 0.5, square, 70, 80, 36.0555f / 50},  // hypot(20, 30)
      {"radial_on_the_diagonal", Gradient::Style::Radial, 0.5, square, 30, 30, 28.2843f / 50},
      {"angle_to_the_right", Gradient::Style::Angle, 0.5, square, 90, 50, 0.0f},
      {"angle_straight_down", Gradient::Style::Angle, 0.5, square, 50, 90, 0.25f},
      {"angle_to_the_left", Gradient::Style::Angle, 0.5, square, 10, 50, 0.5f},
      {"angle_straight_up", Gradient::Style::Angle, 0.5, square, 50, 10, 0.75f},
      {"angle_up_and_right", Gradient::Style::Angle, 0.5, square, 70, 30, 0.875f},
      {"angle_from_straight_up", Gradient::Style::Angle, 0.5, square, 70, 30, 0.125f, 90},
      {"angle_centre_takes_the_right", Gradient::Style::Angle, 0.5, square, 50, 50, 0.25f, 90},
      {"midpoint_early", Gradient::Style::Linear, 0.25, row, 1, 0, 0.5f},
      {"midpoint_late", Gradient::Style::Linear, 0.75, row, 3, 0, 0.5f},
  };
  for (const Case& c : cases) {
    Gradient g;
    g.style = c.style;
    g.angle = c.angle;
    g.smoothness = 0;
    g.colours = {GradientStop{0, c.midpoint, {0, 0, 0, 0}}, GradientStop{1, 0.5, {1, 1, 1, 0}}};
    const PsdRect pixel{c.y, c.x, c.y + 1, c.x + 1};
    float colour[3] = {}, opacity = 0;
    PaintGradient(g, c.box, pixel, 3, colour, &opacity);
    EXPECT_NEAR(colour[0], c.expected, 1e-3f) << c.name;
    EXPECT_EQ(opacity, 1.0f) << c.name;
  }
}

// A smooth gradient mixes each span along a cubic through its two stops,
// each stop's slope the mean of the changes on either side (flat beyond the
// ends): so Photoshop's pictures show a two-stop gradient eased half way
// (smoothstep and straight averaged) and a stop between a rise and a fall
// eased fully. Over a row of 8 pixels, pixel x lies x / 8 of the way.
TEST(LayerComposite, SmoothGradientsEaseEachStopByItsNeighbours) {
  struct Case {
    const char* name;
    std::vector<GradientStop> stops;
    double smoothness;
    std::int32_t x;
    float expected;
  };
  const std::vector<GradientStop> rise{{0, 0.5, {0, 0, 0, 0}}, {1, 0.5, {1, 1, 1, 0}}};
  const std::vector<GradientStop> peak{{0, 0.5, {0, 0, 0, 0}}, {0.5, 0.5, {1, 1, 1, 0}}, {1, 0.5, {0, 0, 0, 0}}};
  const Case cases[] = {
      {"two_stops_eased_half_way", rise, 1, 2, 0.203125f},  // (0.25 + smoothstep(0.25)) / 2
      {"two_stops_at_the_middle", rise, 1, 4, 0.5f},
      {"two_stops_half_smooth", rise, 0.5, 2, 0.2265625f},  // half way between straight and eased
      {"rising_to_a_peak", peak, 1, 2, 0.5625f},             // slopes 0.5 and 0 at t = 0.5
      {"falling_from_a_peak", peak, 1, 5, 0.8671875f},       // slopes 0 and -0.5 at t = 0.25
      {"straight_without_smoothness", peak, 0, 5, 0.75f},
  };
  const PsdRect row{0, 0, 1, 8};
  for (const Case& c : cases) {
    Gradient g;
    g.angle = 0;
    g.smoothness = c.smoothness;
    g.colours = c.stops;
    float colour[3] = {}, opacity = 0;
    PaintGradient(g, row, PsdRect{0, c.x, 1, c.x + 1}, 3, colour, &opacity);
    EXPECT_NEAR(colour[0], c.expected, 1e-4f) << c.name;
  }
}

// Every cut of a good descriptor is refused (ASan shows any read past its
// end), as are counts beyond the bytes and nesting beyond the reader's depth.
TEST(LayerComposite, DamagedDescriptorsAreRefusedWithoutReadingPastThem) {
  const Bytes good = Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(30)},
                                     {"Grad", TwoStops(kBack, kTop)}, {"Nm  ", Typed("TEXT", Bytes{0, 0, 0, 1, 0, 65})}});
  const std::optional<DescriptorValue> read = ReadDescriptor(good);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->NumberOr("Angl", 0), 30);
  EXPECT_EQ(read->EnumOf("Type"), "Lnr ");
  EXPECT_EQ(read->Find("Nm  ")->text, "A");
  const DescriptorColours rgb(kPsdModeRgb, 8);
  ASSERT_TRUE(ReadGradient(*read, rgb));
  EXPECT_EQ(ReadGradient(*read, rgb)->colours.size(), 2u);
  for (std::size_t length = 0; length < good.size(); ++length) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(ReadDescriptor(cut)) << length;
  }
  Bytes huge;
  Put(huge, 0, 4);
  huge = huge + Id("null");
  Put(huge, 0xffffffffu, 4);  // items
  EXPECT_FALSE(ReadDescriptor(huge));
  Bytes deep;  // lists of one list, ten thousand deep
  for (int i = 0; i < 10000; ++i) {
    PutKey(deep, "VlLs");
    Put(deep, 1, 4);
  }
  EXPECT_FALSE(ReadDescriptor(Object("null", {{"deep", deep + Double(1)}})));
}

// Layers under one that covers the whole canvas opaquely in normal mode are
// not drawn: nothing of them can show. The layer below each case's top one
// has damaged pixels, so drawing it would fail the composite; where the top
// one hides it, the picture is the top one's alone.
TEST(LayerComposite, LayersUnderAnOpaqueWholeCanvasLayerAreNotDrawn) {
  TestLayer damaged = Background();
  damaged.name = "under";
  const Bytes red = Object("null", {{"Clr ", RgbColour(kTop)}});
  auto gradient = [](double endOpacity) {
    auto opacityStop = [](double opacity, int location) {
      return Objc("TrnS", {{"Opct", Double(opacity)}, {"Lctn", Long(location)}, {"Mdpn", Long(50)}});
    };
    Bytes grad = Objc("Grdn", {{"GrdF", Enum("GrdF", "CstS")}, {"Intr", Double(0)},
                               {"Clrs", List({Objc("Clrt", {{"Clr ", RgbColour(kTop)}, {"Lctn", Long(0)}, {"Mdpn", Long(50)}}),
                                              Objc("Clrt", {{"Clr ", RgbColour(kTop)}, {"Lctn", Long(4096)}, {"Mdpn", Long(50)}})})},
                               {"Trns", List({opacityStop(100, 0), opacityStop(endOpacity, 4096)})}});
    return Object("null", {{"Type", Enum("GrdT", "Lnr ")}, {"Angl", Double(0)}, {"Grad", grad}});
  };
  TestLayer opaque = Background();
  opaque.colour = {kTop, kTop};
  TestLayer half = opaque;
  half.opacity = 128;
  TestLayer multiply = opaque;
  multiply.mode = "mul ";
  TestLayer withAlpha = opaque;
  withAlpha.alpha = {255, 255};
  TestLayer narrow = opaque;
  narrow.right = 1;
  narrow.colour = {kTop};
  TestLayer masked = opaque;
  masked.masked = true;
  masked.maskLeft = 0;
  masked.maskRight = 2;
  masked.mask = {255, 255};
  struct Case {
    const char* name;
    TestLayer top;
    bool hides;
  };
  const Case cases[] = {
      {"solid colour fill", FillLayer("SoCo", red), true},
      {"opaque gradient fill", FillLayer("GdFl", gradient(100)), true},
      {"pixels without transparency", opaque, true},
      {"gradient fill fading out", FillLayer("GdFl", gradient(50)), false},
      {"half opacity", half, false},
      {"multiply", multiply, false},
      {"a transparency channel", withAlpha, false},
      {"narrower than the canvas", narrow, false},
      {"a raster mask", masked, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> file = MakeFile(2, {damaged, c.top}, false);
    const PsdDocument document = ReadPsdDocument(file, CheckPsdHeader(file).header);
    ASSERT_EQ(document.layers.layers.size(), 2u) << c.name;
    file[document.layers.layers[0].channels[0].offset + 1] = 9;  // no such compression
    const LayerComposite result = Composite(file);
    EXPECT_EQ(static_cast<bool>(result.image), c.hides) << c.name << ": " << result.problem;
    if (!c.hides) {
      EXPECT_EQ(result.problem, "the pixels of layer \"under\" are damaged") << c.name;
      continue;
    }
    EXPECT_EQ(result.layersDrawn, 1) << c.name;
    for (unsigned x = 0; x < 2; ++x) {
      const Rgb got = PixelOf(result.image.get(), x);
      EXPECT_EQ(got.r, kTop.r) << c.name;
      EXPECT_EQ(got.g, kTop.g) << c.name;
      EXPECT_EQ(got.b, kTop.b) << c.name;
    }
  }
}

TEST(LayerComposite, TransparencyLeftByTheLayersIsKeptAsStraightAlpha) {
  TestLayer t = Top();
  t.alpha = {255, 51};
  const LayerComposite result = Composite(MakeFile(2, {t}, false));
  ASSERT_TRUE(result.image);
  ASSERT_EQ(FreeImage_GetBPP(result.image.get()), 32u);
  RGBQUAD q{};
  FreeImage_GetPixelColor(result.image.get(), 1, 0, &q);
  EXPECT_EQ(q.rgbReserved, 51);
  EXPECT_EQ(q.rgbBlue, 255);  // not premultiplied, not matted
  EXPECT_EQ(q.rgbGreen, 64);
}

TEST(LayerComposite, TheLayersReplaceOnlyAMergedImageMarkedAsAPlaceholder) {
  for (const bool real : {true, false}) {
    const std::vector<std::uint8_t> file = MakeFile(2, {Background()}, real);
    const PsdHeaderCheck check = CheckPsdHeader(file);
    ASSERT_TRUE(check.ok) << check.problem;
    FIBITMAP* merged = FreeImage_Allocate(2, 1, 24);
    LayerRebuildNote note;
    std::string why;
    FIBITMAP* chosen = ChoosePicture(merged, ReadPsdDocument(file, check.header), note, why);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen == merged, real);
    EXPECT_EQ(note.rebuilt, real ? 0u : 1u);
    if (!real) {
      EXPECT_EQ(note.layers, 1u);
      EXPECT_EQ(DescribeRebuild(note), "the picture was rebuilt from 1 layer");
      EXPECT_EQ(PixelOf(chosen, 0).r, kBack.r);
    }
    FreeImage_Unload(chosen);
  }
  // Without layers, a placeholder is all there is: it is kept, and the user is told.
  const std::vector<std::uint8_t> bare = MakeFile(2, {}, false);
  const PsdHeaderCheck check = CheckPsdHeader(bare);
  ASSERT_TRUE(check.ok) << check.problem;
  FIBITMAP* merged = FreeImage_Allocate(2, 1, 24);
  LayerRebuildNote note;
  std::string why;
  EXPECT_EQ(ChoosePicture(merged, ReadPsdDocument(bare, check.header), note, why), merged);
  EXPECT_EQ(note.placeholderKept, 1u);
  EXPECT_NE(DescribeRebuild(note).find("placeholder was converted"), std::string::npos);
  FreeImage_Unload(merged);
}

// An embedded profile whose tones differ from sRGB's, as the dot-gain grey
// working spaces and the wide RGB ones do.
std::vector<std::uint8_t> ProfileOtherThanSrgb(bool grey) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.6);
  cmsHPROFILE profile = nullptr;
  if (grey) {
    profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  } else {
    const cmsCIExyYTRIPLE wide = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    profile = cmsCreateRGBProfile(cmsD50_xyY(), &wide, curves);
  }
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// The same document saved with its merged image and without: rebuilt from its
// layers it must come out in the tones its merged image gives, through the
// file's profile, in grey as in RGB.
TEST(LayerComposite, APictureRebuiltFromItsLayersGoesThroughTheFilesProfileAsItsMergedImageDoes) {
  const std::vector<int> tones = {0, 40, 128, 200, 255};
  for (const bool grey : {true, false}) {
    TestLayer layer;
    layer.right = static_cast<std::int32_t>(tones.size());
    FileForm form;
    form.mode = grey ? 1 : 3;
    form.channels = grey ? 1 : 3;
    form.icc = ProfileOtherThanSrgb(grey);
    for (int c = 0; c < form.channels; ++c) {
      for (const int t : tones) form.merged.push_back(static_cast<std::uint8_t>(c == 1 ? 255 - t : t));
    }
    for (const int t : tones) layer.colour.push_back({t, 255 - t, t});
    test::TempDir dir;
    auto load = [&](const char* name, bool realMerged) {
      const std::string path = dir.File(name);
      const std::vector<std::uint8_t> file = MakeFile(static_cast<std::uint32_t>(tones.size()), {layer}, realMerged, form);
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                  static_cast<std::streamsize>(file.size()));
      return LoadPsdSandboxed(path, 0);
    };
    const ImageResult stored = load("stored.psd", true);
    const ImageResult rebuilt = load("rebuilt.psd", false);
    ASSERT_TRUE(stored.image && rebuilt.image) << stored.failure << rebuilt.failure;
    EXPECT_EQ(FreeImage_GetBPP(rebuilt.image.get()), FreeImage_GetBPP(stored.image.get())) << grey;
    bool profileApplied = false;
    for (unsigned x = 0; x < tones.size(); ++x) {
      const Rgb a = PixelOf(stored.image.get(), x), b = PixelOf(rebuilt.image.get(), x);
      EXPECT_EQ(std::tie(a.r, a.g, a.b), std::tie(b.r, b.g, b.b)) << (grey ? "grey" : "RGB") << " pixel " << x;
      profileApplied = profileApplied || a.r != tones[x];
    }
    EXPECT_TRUE(profileApplied) << "the profile changed no tone, so the case shows nothing";
  }
}

// Layers of which none can be drawn (only hidden ones, or group markers left
// by a broken section) make no picture: the placeholder is kept and the user
// told why, or without a merged image the file fails with that reason.
TEST(LayerComposite, LayersOfWhichNoneCanBeDrawnNeverReplaceThePlaceholder) {
  TestLayer hidden = Background();
  hidden.hidden = true;
  TestLayer open, end;
  open.left = open.right = end.left = end.right = 0;
  open.section = 1;
  end.section = 3;
  struct Case {
    const char* name;
    std::vector<TestLayer> layers;
  };
  const Case cases[] = {
      {"a hidden layer", {hidden}},
      {"a lone group end", {end}},
      {"a lone group", {open}},
      {"an empty group", {end, open}},
      {"markers the wrong way round", {open, end, open}},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> file = MakeFile(2, c.layers, false);
    const PsdHeaderCheck check = CheckPsdHeader(file);
    ASSERT_TRUE(check.ok) << check.problem;
    const PsdDocument document = ReadPsdDocument(file, check.header);
    FIBITMAP* merged = FreeImage_Allocate(2, 1, 24);
    LayerRebuildNote note;
    std::string why;
    EXPECT_EQ(ChoosePicture(merged, document, note, why), merged) << c.name;
    EXPECT_EQ(note.rebuilt, 0u) << c.name;
    EXPECT_EQ(note.placeholderKept, 1u) << c.name;
    EXPECT_NE(why.find("could be drawn"), std::string::npos) << c.name << ": " << why;
    FreeImage_Unload(merged);
    LayerRebuildNote none;
    std::string whyNone;
    EXPECT_EQ(ChoosePicture(nullptr, document, none, whyNone), nullptr) << c.name;
    EXPECT_FALSE(whyNone.empty()) << c.name;
  }
}

TEST(LayerComposite, AConversionOfAPlaceholderFileSaysOnStandardErrorThatTheLayersWereUsed) {
  test::TempDir dir;
  const std::string input = dir.File("layers.psd");
  {
    const std::vector<std::uint8_t> file = MakeFile(2, {Background(), Top()}, false);
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                 static_cast<std::streamsize>(file.size()));
  }
  const test::RunResult result = test::RunKestrel({"-i", input, "-o", dir.Path()});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.HasLine("Conversion complete")) << result.out;
  EXPECT_EQ(result.err, "kestrel: " + input + ": the picture was rebuilt from 2 layers\n");
  ImagePtr saved(FreeImage_Load(FIF_BMP, dir.File("layers.bmp").c_str(), 0));
  ASSERT_TRUE(saved);
  EXPECT_EQ(PixelOf(saved.get(), 0).b, kTop.b);
}

// The file's merged image, 8-bit RGB of width x 1, stored run-length
// compressed in rows that each claim six literal bytes and hold one: the
// header check passes it, and no decoder can make a picture of it.
std::vector<std::uint8_t> WithBrokenMergedImage(std::vector<std::uint8_t> file, std::uint32_t width) {
  const std::size_t merged = 2 + 3 * std::size_t{width};  // the raw merged image and its compression word
  if (file.size() < merged) return file;
  file.resize(file.size() - merged);
  Put(file, 1, 2);
  for (int channel = 0; channel < 3; ++channel) Put(file, 2, 2);
  for (int channel = 0; channel < 3; ++channel) file.insert(file.end(), {0x05, 0x00});
  return file;
}

// When the layers of a placeholder file cannot be composited, the user is told
// why: beside the placeholder converted instead, or in the failure when the
// merged image cannot be read either.
TEST(LayerComposite, WhyTheLayersFailedIsSaidWithThePlaceholderOrTheFailure) {
  std::vector<std::uint8_t> file = MakeFile(2, {Background()}, false);
  const PsdDocument document = ReadPsdDocument(file, CheckPsdHeader(file).header);
  ASSERT_EQ(document.layers.layers.size(), 1u);
  file[document.layers.layers[0].channels[0].offset + 1] = 9;  // no such compression
  const std::string why = "the pixels of layer \"\" are damaged";
  test::TempDir dir;
  const auto write = [&dir](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(dir.File(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return dir.File(name);
  };
  const std::string placeholder = write("placeholder.psd", file);
  const test::RunResult kept = test::RunKestrel({"-i", placeholder, "-o", dir.Path()});
  EXPECT_EQ(kept.exitCode, 0);
  EXPECT_EQ(kept.err, "kestrel: " + placeholder +
                          ": the merged image is marked as a placeholder and the layers could not be composited (" +
                          why + "): the placeholder was converted\n");
  const ImageResult nothing = LoadPsdSandboxed(write("nothing.psd", WithBrokenMergedImage(file, 2)), 0);
  EXPECT_FALSE(nothing.image);
  EXPECT_EQ(nothing.failure, "the decoder could not read the image and the layers could not be composited (" + why + ")");
}

// Peak resident memory of this process, in bytes.
std::uint64_t PeakMemory() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// A layer may claim bounds two billion pixels wide in a file of a few
// hundred bytes: nothing the width of those bounds is made before its
// channels are found too short for them.
TEST(LayerComposite, ALayerFarWiderThanItsDataCostsNoMemoryForItsWidth) {
  TestLayer wide;
  wide.left = 0;
  wide.right = 0x7FFF0000;
  wide.alpha = {};
  const std::vector<std::uint8_t> file = MakeFile(2, {Background(), wide}, false);
  const std::uint64_t before = PeakMemory();
  const LayerComposite result = Composite(file);
  EXPECT_LT(PeakMemory() - before, 256u << 20);
  EXPECT_FALSE(result.problem.empty());
}

// A list nested thirty deep, each level claiming as many values as the bytes
// left could hold, the innermost damaged: `padding` bytes follow the levels.
Bytes ListBomb(std::size_t padding) {
  constexpr int kLevels = 30;
  Bytes out;
  for (int level = 0; level < kLevels; ++level) {
    PutKey(out, "VlLs");
    Put(out, ((kLevels - level - 1) * 8 + padding) / 4, 4);
  }
  return out + Bytes(padding, 0);
}

// Values are made as they are read, never from the counts a file claims:
// the list bomb costs next to nothing before it is found damaged.
TEST(LayerComposite, ADescriptorListBombCostsNoMemoryForWhatItClaims) {
  const Bytes bomb = Object("null", {{"Clr ", ListBomb(1u << 20)}});
  const std::uint64_t before = PeakMemory();
  EXPECT_FALSE(ReadDescriptor(bomb));
  EXPECT_LT(PeakMemory() - before, 100u << 20);
}

// A fill layer whose settings are damaged costs only itself: the file is
// converted without it, and the user is told which layer it was.
TEST(LayerComposite, AFillWithDamagedSettingsIsLeftOutAndNamed) {
  TestLayer bomb = FillLayer("SoCo", Object("null", {{"Clr ", ListBomb(1u << 20)}}));
  bomb.name = "Bomb";
  test::TempDir dir;
  const std::string input = dir.File("bomb.psd");
  {
    const std::vector<std::uint8_t> file = MakeFile(2, {Background(), bomb}, false);
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                 static_cast<std::streamsize>(file.size()));
  }
  const test::RunResult result = test::RunKestrel({"-q", "-i", input, "-o", dir.Path()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "kestrel: " + input +
                            ": the picture was rebuilt from 1 layer (1 adjustment or fill layer not drawn); the "
                            "settings of fill layer \"Bomb\" are damaged\n");
  ImagePtr saved(FreeImage_Load(FIF_BMP, dir.File("bomb.bmp").c_str(), 0));
  ASSERT_TRUE(saved);
  EXPECT_EQ(PixelOf(saved.get(), 0).r, kBack.r);
  EXPECT_EQ(PixelOf(saved.get(), 1).b, kBack.b);
}

TEST(LayerComposite, DamagedLayerSectionsAreRefusedWithoutReadingPastThem) {
  const std::vector<std::uint8_t> good = MakeFile(2, {Background(), Top()}, false);
  // Every cut of the file, and every byte of the layer section set to 0xFF in turn.
  const PsdHeaderCheck check = CheckPsdHeader(good);
  ASSERT_TRUE(check.ok);
  // Each outcome is a whole picture of the document's size or a reason, never both or neither.
  auto picture_or_reason = [&check](const LayerComposite& result, const std::string& what) {
    if (result.image) {
      EXPECT_TRUE(result.problem.empty()) << what << ": " << result.problem;
      EXPECT_EQ(FreeImage_GetWidth(result.image.get()), check.header.width) << what;
      EXPECT_EQ(FreeImage_GetHeight(result.image.get()), check.header.height) << what;
    } else {
      EXPECT_FALSE(result.problem.empty()) << what;
    }
  };
  // Where the layer section ends: after the header, the colour table and the image resources.
  auto be32 = [&good](std::size_t at) {
    return std::size_t{good[at]} << 24 | std::size_t{good[at + 1]} << 16 | std::size_t{good[at + 2]} << 8 | good[at + 3];
  };
  const std::size_t resources = 26 + 4 + be32(26);
  const std::size_t section = resources + 4 + be32(resources);
  const std::size_t sectionEnd = section + 4 + be32(section);
  ASSERT_LE(sectionEnd, good.size());
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    const std::vector<std::uint8_t> shorter(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const LayerComposite result = CompositeLayers(ReadPsdDocument(shorter, check.header));
    picture_or_reason(result, "cut at " + std::to_string(cut));
    // A layer section cut short is refused.
    if (cut < sectionEnd) {
      EXPECT_FALSE(result.image) << "cut at " << cut;
    }
  }
  for (std::size_t at = 40; at < good.size(); ++at) {
    std::vector<std::uint8_t> bad = good;
    bad[at] = 0xFF;
    picture_or_reason(CompositeLayers(ReadPsdDocument(bad, check.header)), "0xFF at " + std::to_string(at));
  }
}

}  // namespace
}  // namespace kestrel
