#include "engine/composite/effect_kinds.h"

#include <algorithm>
#include <iterator>

#include "engine/composite/effect_bevel.h"
#include "engine/composite/effect_overlays.h"
#include "engine/composite/effect_pattern_overlay.h"
#include "engine/composite/effect_soft.h"
#include "engine/composite/effect_stroke.h"

namespace kestrel {
namespace {

// Photoshop's stack, bottom to top: shadows and glows outside the layer, the
// layer's pixels, the overlays, the effects inside its edge, then stroke and
// bevel over everything.
constexpr EffectKind kEffectKinds[] = {
    {"DrSh", "dropShadowMulti", "drop shadow", EffectPlace::Below, 0, ReadDropShadow},
    {"OrGl", "", "outer glow", EffectPlace::Below, 1, ReadOuterGlow},
    {"patternFill", "", "pattern overlay", EffectPlace::Interior, 2, ReadPatternOverlay},
    {"GrFl", "gradientFillMulti", "gradient overlay", EffectPlace::Interior, 3, ReadGradientOverlay},
    {"SoFi", "solidFillMulti", "colour overlay", EffectPlace::Interior, 4, ReadColourOverlay},
    {"ChFX", "", "satin", EffectPlace::Interior, 5, ReadSatin},
    {"IrGl", "", "inner glow", EffectPlace::Interior, 6, ReadInnerGlow},
    {"IrSh", "innerShadowMulti", "inner shadow", EffectPlace::Interior, 7, ReadInnerShadow},
    {"FrFX", "frameFXMulti", "stroke", EffectPlace::Above, 8, ReadStrokeEffect},
    {"ebbl", "", "bevel and emboss", EffectPlace::Above, 9, ReadBevelEffect},
};

void NoteNotDrawn(StyleEffects& style, std::string_view name) {
  if (std::find(style.notDrawn.begin(), style.notDrawn.end(), name) == style.notDrawn.end()) {
    style.notDrawn.emplace_back(name);
  }
}

}  // namespace

std::span<const EffectKind> EffectKinds() { return kEffectKinds; }

constexpr std::uint32_t kOtherKind = 1u << 31;

std::uint32_t EffectKindBits(const std::vector<std::string>& names) {
  std::uint32_t bits = 0;
  for (const std::string& name : names) {
    const auto* row = std::find_if(std::begin(kEffectKinds), std::end(kEffectKinds),
                                   [&name](const EffectKind& kind) { return kind.name == name; });
    bits |= row == std::end(kEffectKinds) ? kOtherKind : 1u << (row - std::begin(kEffectKinds));
  }
  return bits;
}

std::vector<std::string> EffectKindNames(std::uint32_t bits) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < std::size(kEffectKinds); ++i) {
    if ((bits & (1u << i)) != 0) names.emplace_back(kEffectKinds[i].name);
  }
  if ((bits & kOtherKind) != 0) names.emplace_back("unreadable styles");
  return names;
}

bool EffectEnabled(const DescriptorValue& effect) {
  return effect.type == DescriptorValue::Type::Object && effect.BooleanOr("enab", true) &&
         effect.BooleanOr("present", true);
}

StyleEffects ReadStyleEffects(const DescriptorValue& style, const EffectContext& outer) {
  StyleEffects out;
  if (!style.BooleanOr("masterFXSwitch", true)) return out;
  EffectContext context = outer;
  context.style = &style;
  for (const EffectKind& kind : kEffectKinds) {
    // A layer with several effects of a kind keeps them in a list (the
    // single key then repeats the first): the list wins. Its first entry is
    // the topmost.
    std::vector<const DescriptorValue*> found;
    const DescriptorValue* multi = kind.multiKey.empty() ? nullptr : style.Find(kind.multiKey);
    if (multi != nullptr && multi->type == DescriptorValue::Type::List) {
      for (auto it = multi->list.rbegin(); it != multi->list.rend(); ++it) found.push_back(&*it);
    } else if (const DescriptorValue* one = style.Find(kind.key)) {
      found.push_back(one);
    }
    for (const DescriptorValue* settings : found) {
      if (!EffectEnabled(*settings)) continue;
      std::optional<DrawableEffect> effect;
      if (kind.read != nullptr) effect = kind.read(*settings, context);
      if (effect) out.effects.push_back({&kind, std::move(*effect), settings});
      else NoteNotDrawn(out, kind.name);
    }
  }
  return out;
}

}  // namespace kestrel
