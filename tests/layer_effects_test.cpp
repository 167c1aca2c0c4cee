// Layer effects drawn from a generated shape: where a drop shadow lands and
// how far it spreads, what an inner glow covers, which effects a style reads
// (a list of several of a kind, switched-off effects and styles), and the
// line that names the effects left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/colour/descriptor_colour.h"
#include "engine/composite/effect_kinds.h"
#include "engine/composite/effect_layering.h"
#include "engine/decode/layer_rebuild.h"
#include "engine/psd/header.h"

namespace kestrel {
namespace {

DescriptorValue Number(double v) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::Number;
  value.number = v;
  return value;
}

DescriptorValue Boolean(bool b) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::Boolean;
  value.boolean = b;
  return value;
}

DescriptorValue Enum(const char* v) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::Enum;
  value.text = v;
  return value;
}

DescriptorValue Object(std::vector<std::pair<std::string, DescriptorValue>> items) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::Object;
  for (auto& [key, item] : items) value.items.push_back({key, std::move(item)});
  return value;
}

DescriptorValue List(std::vector<DescriptorValue> items) {
  DescriptorValue value;
  value.type = DescriptorValue::Type::List;
  value.list = std::move(items);
  return value;
}

DescriptorValue Black() { return Object({{"Rd  ", Number(0)}, {"Grn ", Number(0)}, {"Bl  ", Number(0)}}); }

// A shadow or glow in black at full opacity.
DescriptorValue Soft(std::vector<std::pair<std::string, DescriptorValue>> settings, bool enabled = true) {
  settings.push_back({"enab", Boolean(enabled)});
  settings.push_back({"Md  ", Enum("normal")});
  settings.push_back({"Clr ", Black()});
  settings.push_back({"Opct", Number(100)});
  return Object(std::move(settings));
}

struct Fixture {
  DescriptorColours colours{kPsdModeRgb, 8};
  PsdRect canvas{0, 0, 60, 60};
  EffectContext context{colours, BlendSpace::Light, 3, canvas, 120, 30};
  // An opaque 20x20 square at (20, 20) on a 60x60 canvas.
  ShapePlane Square() const {
    ShapePlane shape{canvas, std::vector<float>(3600, 0.0f), PsdRect{20, 20, 40, 40}};
    for (int y = 20; y < 40; ++y) {
      for (int x = 20; x < 40; ++x) shape.alpha[static_cast<std::size_t>(y * 60 + x)] = 1;
    }
    return shape;
  }
  StyleEffects Read(std::vector<std::pair<std::string, DescriptorValue>> style) const {
    return ReadStyleEffects(Object(std::move(style)), context);
  }
};

float At(const EffectPaint& paint, int x, int y) {
  return paint.coverage[static_cast<std::size_t>((y - paint.rect.top) * paint.rect.Width() + (x - paint.rect.left))];
}

// A hard shadow (size all spread) lit from the top lands `distance` below
// the square, grown by its size; the document's light moves it when the
// effect follows it.
TEST(LayerEffects, DropShadowLandsAwayFromTheLightGrownByItsSpread) {
  Fixture f;
  struct Case {
    const char* name;
    bool globalLight;
    int dx, dy;  // where the square's shadow moves
  };
  f.context.globalAngle = 0;  // light from the right: the shadow moves left
  for (const Case& c : {Case{"own angle", false, 0, 6}, Case{"global light", true, -6, 0}}) {
    const StyleEffects read = f.Read({{"DrSh", Soft({{"lagl", Number(90)},
                                                     {"uglg", Boolean(c.globalLight)},
                                                     {"Dstn", Number(6)},
                                                     {"blur", Number(3)},
                                                     {"Ckmt", Number(100)}})}});
    ASSERT_EQ(read.effects.size(), 1u) << c.name;
    EXPECT_EQ(read.effects[0].kind->place, EffectPlace::Below);
    EXPECT_GE(read.effects[0].effect.reach, 9) << c.name;
    const std::vector<EffectPaint> paints = read.effects[0].effect.paint(f.Square());
    ASSERT_EQ(paints.size(), 1u);
    const EffectPaint& shadow = paints[0];
    // The square moved covers fully, and so does the ring 3 pixels around it; beyond that nothing.
    EXPECT_FLOAT_EQ(At(shadow, 30 + c.dx, 30 + c.dy), 1) << c.name;
    EXPECT_FLOAT_EQ(At(shadow, 20 + c.dx - 3, 30 + c.dy), 1) << c.name;
    EXPECT_FLOAT_EQ(At(shadow, 39 + c.dx + 3, 30 + c.dy), 1) << c.name;
    EXPECT_FLOAT_EQ(At(shadow, 20 + c.dx - 5, 30 + c.dy), 0) << c.name;
    // Where the square was, on the side away from the shadow, nothing.
    EXPECT_FLOAT_EQ(At(shadow, c.dx < 0 ? 38 : 30, c.dy > 0 ? 19 : 30), 0) << c.name;
    EXPECT_TRUE(shadow.knockedOutByLayer);
  }
}

// A soft shadow fades across its edge: half way at the moved edge, none
// further out than its size.
TEST(LayerEffects, SoftShadowFadesOverItsSize) {
  Fixture f;
  const StyleEffects read = f.Read({{"DrSh", Soft({{"lagl", Number(90)}, {"Dstn", Number(0)}, {"blur", Number(8)}})}});
  ASSERT_EQ(read.effects.size(), 1u);
  const EffectPaint shadow = read.effects[0].effect.paint(f.Square())[0];
  EXPECT_NEAR(At(shadow, 30, 30), 1, 0.01);
  EXPECT_NEAR((At(shadow, 19, 30) + At(shadow, 20, 30)) / 2, 0.5, 0.05);
  EXPECT_LT(At(shadow, 17, 30), At(shadow, 19, 30));
  EXPECT_NEAR(At(shadow, 10, 30), 0, 0.01);
}

// An inner glow from the edge covers the square's rim, from the centre its middle.
TEST(LayerEffects, InnerGlowFromTheEdgeOrTheCentre) {
  Fixture f;
  for (const char* source : {"SrcE", "SrcC"}) {
    const bool edge = std::string(source) == "SrcE";
    const StyleEffects read =
        f.Read({{"IrGl", Soft({{"blur", Number(4)}, {"Ckmt", Number(100)}, {"glwS", Enum(source)}})}});
    ASSERT_EQ(read.effects.size(), 1u) << source;
    EXPECT_EQ(read.effects[0].kind->place, EffectPlace::Interior);
    const EffectPaint glow = read.effects[0].effect.paint(f.Square())[0];
    EXPECT_FLOAT_EQ(At(glow, 21, 30), edge ? 1.0f : 0.0f) << source;
    EXPECT_FLOAT_EQ(At(glow, 30, 30), edge ? 0.0f : 1.0f) << source;
  }
}

// A soft glow fades as the tail of its edge blurred by a triangle reaching
// its size: with range 50% that is (1 - (d + 1/2) / size)^2 at the pixel d
// from the edge (as Photoshop draws a glow of size 40), outside for an outer
// glow, inside for an inner one.
TEST(LayerEffects, SoftGlowWithHalfRangeFallsOffAsTheSquareOfItsDistance) {
  Fixture f;
  struct Case {
    const char* key;
    int step;  // from the square's left edge, along row 30
  };
  for (const Case& c : {Case{"OrGl", -1}, Case{"IrGl", 1}}) {
    const StyleEffects read = f.Read({{c.key, Soft({{"blur", Number(10)}, {"Inpr", Number(50)}})}});
    ASSERT_EQ(read.effects.size(), 1u) << c.key;
    const EffectPaint glow = read.effects[0].effect.paint(f.Square())[0];
    const int first = c.step < 0 ? 19 : 20;
    for (int d = 0; d < 10; ++d) {
      const float t = std::max(0.0f, 1 - (static_cast<float>(d) + 0.5f) / 10);
      EXPECT_NEAR(At(glow, first + c.step * d, 30), t * t, 0.02) << c.key << " at " << d;
    }
  }
}

// A glow in a gradient's colours: where it is strongest it takes the first
// stop, where it fades out the last, and the gradient's opacity fades it
// further. With red to blue, opaque to clear, a pixel the glow covers by v
// is red by v, blue by 1 - v and covered by v * v.
TEST(LayerEffects, GlowInAGradientsColoursRunsFromItsEdgeOutwards) {
  Fixture f;
  auto stop = [](double red, double blue, double location) {
    return Object({{"Clr ", Object({{"Rd  ", Number(red)}, {"Grn ", Number(0)}, {"Bl  ", Number(blue)}})},
                   {"Type", Enum("UsrS")}, {"Lctn", Number(location)}, {"Mdpn", Number(50)}});
  };
  auto opacity = [](double percent, double location) {
    return Object({{"Opct", Number(percent)}, {"Lctn", Number(location)}, {"Mdpn", Number(50)}});
  };
  const DescriptorValue gradient = Object({{"GrdF", Enum("CstS")}, {"Intr", Number(0)},
                                           {"Clrs", List({stop(255, 0, 0), stop(0, 255, 4096)})},
                                           {"Trns", List({opacity(100, 0), opacity(0, 4096)})}});
  const DescriptorValue glow = Object({{"enab", Boolean(true)}, {"Md  ", Enum("normal")}, {"Opct", Number(100)},
                                       {"blur", Number(8)}, {"Grad", gradient}});
  const StyleEffects read = f.Read({{"OrGl", glow}});
  ASSERT_EQ(read.effects.size(), 1u);
  EXPECT_TRUE(read.notDrawn.empty());
  const EffectPaint paint = read.effects[0].effect.paint(f.Square())[0];
  ASSERT_TRUE(paint.colourPerPixel);
  int fading = 0;
  for (int x = 10; x < 20; ++x) {
    const std::size_t i = static_cast<std::size_t>((30 - paint.rect.top) * paint.rect.Width() + (x - paint.rect.left));
    const float red = paint.colour[i * 3], blue = paint.colour[i * 3 + 2];
    EXPECT_NEAR(red + blue, 1, 1e-4) << x;
    EXPECT_NEAR(paint.coverage[i], red * red, 1e-4) << x;
    if (red > 0.05f && red < 0.95f) ++fading;
  }
  EXPECT_GT(fading, 3);  // the glow fades across these pixels rather than stepping
}

// Which effects a style holds: a list of several of a kind wins over the
// single key, switched-off effects and styles give nothing and are not
// named, kinds that are not drawn are named once, and the stack is in
// Photoshop's order.
TEST(LayerEffects, StyleReadsEnabledEffectsInStackingOrder) {
  Fixture f;
  const DescriptorValue shadow = Soft({{"blur", Number(2)}});
  const DescriptorValue off = Soft({{"blur", Number(2)}}, false);
  const DescriptorValue bevel = Object({{"enab", Boolean(true)}});
  const DescriptorValue textured = Object({{"enab", Boolean(true)}, {"useTexture", Boolean(true)}});
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, DescriptorValue>> style;
    std::vector<std::string> kinds;  // bottom to top
    std::vector<std::string> notDrawn;
  };
  const std::vector<Case> cases = {
      {"all switched off", {{"DrSh", off}, {"IrGl", off}, {"dropShadowMulti", List({off, off})}}, {}, {}},
      {"master switch off", {{"masterFXSwitch", Boolean(false)}, {"DrSh", shadow}}, {}, {}},
      {"several of a kind", {{"DrSh", shadow}, {"dropShadowMulti", List({shadow, off, shadow})}},
       {"drop shadow", "drop shadow"}, {}},
      {"stacking order", {{"IrSh", shadow}, {"SoFi", Object({{"enab", Boolean(true)}, {"Clr ", Black()}})},
                          {"OrGl", shadow}, {"ebbl", bevel}, {"DrSh", shadow}},
       {"drop shadow", "outer glow", "colour overlay", "inner shadow", "bevel and emboss"}, {}},
      {"a bevel whose texture's pattern the file lacks is not drawn", {{"ebbl", textured}, {"DrSh", shadow}}, {"drop shadow"},
       {"bevel and emboss"}},
  };
  for (const Case& c : cases) {
    const StyleEffects read = f.Read(c.style);
    std::vector<std::string> kinds;
    for (const PlacedEffect& e : read.effects) kinds.emplace_back(e.kind->name);
    EXPECT_EQ(kinds, c.kinds) << c.name;
    EXPECT_EQ(read.notDrawn, c.notDrawn) << c.name;
  }
}

// A stroke emboss raises the band of the layer's stroke (here 4 pixels
// outside the square, lit from above): its top side takes the highlight
// and its bottom side the shadow, and nothing falls inside the square. The
// topmost enabled stroke of a list is the one raised. Without a stroke
// there is nothing to raise: the emboss is drawn and lays no paint.
TEST(LayerEffects, StrokeEmbossRaisesTheStrokesBand) {
  Fixture f;
  const auto stroke = [](bool enabled, double size) {
    return Object({{"enab", Boolean(enabled)}, {"Styl", Enum("OutF")}, {"PntT", Enum("SClr")},
                   {"Sz  ", Number(size)}, {"Clr ", Black()}});
  };
  const DescriptorValue emboss = Object({{"enab", Boolean(true)}, {"bvlS", Enum("strokeEmboss")},
                                         {"bvlT", Enum("PrBL")}, {"blur", Number(2)}, {"lagl", Number(90)}});
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, DescriptorValue>> style;
  };
  const std::vector<Case> cases = {
      {"one stroke", {{"FrFX", stroke(true, 4)}, {"ebbl", emboss}}},
      {"the topmost enabled of several",
       {{"FrFX", stroke(false, 9)}, {"frameFXMulti", List({stroke(false, 9), stroke(true, 4), stroke(true, 9)})},
        {"ebbl", emboss}}},
  };
  for (const Case& c : cases) {
    const StyleEffects read = f.Read(c.style);
    ASSERT_FALSE(read.effects.empty()) << c.name;
    EXPECT_EQ(read.effects.back().kind->name, "bevel and emboss") << c.name;
    EXPECT_TRUE(read.notDrawn.empty()) << c.name;
    const std::vector<EffectPaint> paints = read.effects.back().effect.paint(f.Square());
    ASSERT_EQ(paints.size(), 2u) << c.name;
    const EffectPaint& shadow = paints[0];
    const EffectPaint& highlight = paints[1];
    EXPECT_GT(At(highlight, 30, 17), 0.3f) << c.name;  // the band's upper side, above the square
    EXPECT_EQ(At(shadow, 30, 17), 0.0f) << c.name;
    EXPECT_GT(At(shadow, 30, 42), 0.3f) << c.name;     // its lower side, below it
    EXPECT_EQ(At(highlight, 30, 42), 0.0f) << c.name;
    for (int y = 21; y < 39; ++y) EXPECT_EQ(At(highlight, 30, y) + At(shadow, 30, y), 0.0f) << c.name << " " << y;
    EXPECT_EQ(At(highlight, 30, 12) + At(shadow, 30, 12), 0.0f) << c.name;  // beyond the band
  }
  const StyleEffects alone = f.Read({{"ebbl", emboss}});
  ASSERT_EQ(alone.effects.size(), 1u);
  EXPECT_TRUE(alone.effects[0].effect.paint(f.Square()).empty());
}

// An inside stroke colours the half-covered edge of a soft shape fully and
// leaves its alpha as the layer has it: the layer's alpha thins the stroke
// once, so nothing of the layer's own colour shows through.
TEST(LayerEffects, InsideStrokeCoversASoftEdgeWithoutAddingOpacity) {
  Fixture f;
  const StyleEffects read = f.Read({{"FrFX", Object({{"enab", Boolean(true)}, {"Styl", Enum("InsF")},
                                                     {"PntT", Enum("SClr")}, {"Sz  ", Number(1)}, {"Clr ", Black()}})}});
  ASSERT_EQ(read.effects.size(), 1u);
  LayerStyle style;
  style.effects = read.effects;
  // A red square whose left column is half covered, on a transparent canvas.
  Canvas<float> whole(f.canvas, 3), dest(f.canvas, 3);
  const ShapePlane square = f.Square();
  for (std::size_t i = 0; i < square.alpha.size(); ++i) {
    whole.alpha[i] = square.alpha[i] * (i % 60 == 20 ? 0.5f : 1.0f);
    whole.colour[i * 3] = 1;
  }
  EffectLayering how;
  how.bounds = square.bounds;
  LayWithEffects(style, how, whole, {}, dest);
  const std::uint64_t edge = dest.Index(20, 30), inner = dest.Index(21, 30), middle = dest.Index(30, 30);
  EXPECT_NEAR(dest.alpha[edge], 0.5f, 1e-4);
  EXPECT_NEAR(dest.colour[edge * 3], 0.0f, 1e-4);  // black, no red showing through
  EXPECT_NEAR(dest.alpha[inner], 1.0f, 1e-4);
  EXPECT_NEAR(dest.colour[middle * 3], 1.0f, 1e-4);  // the stroke stays at the edge
}

// The user is told which kinds of effect were left out, and nothing of effects that were drawn.
TEST(LayerEffects, RebuildLineNamesTheEffectsLeftOut) {
  LayerRebuildNote note;
  note.rebuilt = 1;
  note.layers = 3;
  EXPECT_EQ(DescribeRebuild(note), "the picture was rebuilt from 3 layers");
  note.effectsSkipped = 2;
  note.effectKindsNotDrawn = EffectKindBits({"stroke", "bevel and emboss"});
  EXPECT_EQ(DescribeRebuild(note),
            "the picture was rebuilt from 3 layers (effects not drawn on 2 layers: stroke, bevel and emboss)");
}

}  // namespace
}  // namespace kestrel
