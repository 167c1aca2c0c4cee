#include "engine/composite/blend_modes.h"

#include <algorithm>
#include <array>
#include <utility>
#include <cmath>

#include "engine/psd/layer_records.h"

namespace kestrel {
namespace {

float ColourDodge(float b, float s) {
  if (b <= 0) return 0;
  if (s >= 1) return 1;
  return std::min(1.0f, b / (1 - s));
}

float ColourBurn(float b, float s) {
  if (b >= 1) return 1;
  if (s <= 0) return 0;
  return 1 - std::min(1.0f, (1 - b) / s);
}

float HardLight(float b, float s) { return s <= 0.5f ? b * 2 * s : b + (2 * s - 1) - b * (2 * s - 1); }

float SoftLight(float b, float s) {
  if (s <= 0.5f) return b - (1 - 2 * s) * b * (1 - b);
  const float d = b <= 0.25f ? ((16 * b - 12) * b + 4) * b : std::sqrt(std::max(b, 0.0f));
  return b + (2 * s - 1) * (d - b);
}

// One channel of a separable mode.
float Separable(BlendMode mode, float b, float s) {
  switch (mode) {
    case BlendMode::Darken: return std::min(b, s);
    case BlendMode::Multiply: return b * s;
    case BlendMode::ColourBurn: return ColourBurn(b, s);
    case BlendMode::LinearBurn: return std::max(0.0f, b + s - 1);
    case BlendMode::Lighten: return std::max(b, s);
    case BlendMode::Screen: return b + s - b * s;
    case BlendMode::ColourDodge: return ColourDodge(b, s);
    case BlendMode::LinearDodge: return std::min(1.0f, b + s);
    case BlendMode::Overlay: return HardLight(s, b);
    case BlendMode::SoftLight: return SoftLight(b, s);
    case BlendMode::HardLight: return HardLight(b, s);
    // Measured against Photoshop's own merged images, its vivid light lights
    // the layer by the backdrop: burn below half grey, dodge above.
    case BlendMode::VividLight: return b <= 0.5f ? ColourBurn(s, 2 * b) : ColourDodge(s, 2 * b - 1);
    case BlendMode::LinearLight: return std::clamp(b + 2 * s - 1, 0.0f, 1.0f);
    case BlendMode::PinLight: return s <= 0.5f ? std::min(b, 2 * s) : std::max(b, 2 * s - 1);
    // A sum of exactly 1 stays 0.
    case BlendMode::HardMix: return b + 0.999999f * s >= 1 ? 1.0f : 0.0f;
    case BlendMode::Difference: return std::fabs(b - s);
    case BlendMode::Exclusion: return b + s - 2 * b * s;
    case BlendMode::Subtract: return std::max(0.0f, b - s);
    case BlendMode::Divide:
      if (s <= 0) return b <= 0 ? 0.0f : 1.0f;
      return std::min(1.0f, b / s);
    default: return s;
  }
}

float Lum(const float* c) { return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2]; }

void ClipColour(float* c) {
  const float l = Lum(c);
  const float n = std::min({c[0], c[1], c[2]});
  const float x = std::max({c[0], c[1], c[2]});
  for (int i = 0; i < 3; ++i) {
    if (n < 0 && l - n > 0) c[i] = l + (c[i] - l) * l / (l - n);
    if (x > 1 && x - l > 0) c[i] = l + (c[i] - l) * (1 - l) / (x - l);
    c[i] = std::clamp(c[i], 0.0f, 1.0f);
  }
}

void SetLum(float* c, float l) {
  const float d = l - Lum(c);
  for (int i = 0; i < 3; ++i) c[i] += d;
  ClipColour(c);
}

float Sat(const float* c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }

void SetSat(float* c, float s) {
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [c](int a, int b) { return c[a] < c[b]; });
  float& lo = c[order[0]];
  float& mid = c[order[1]];
  float& hi = c[order[2]];
  if (hi > lo) {
    mid = (mid - lo) * s / (hi - lo);
    hi = s;
  } else {
    mid = hi = 0;
  }
  lo = 0;
}

// A whole pixel of a non-separable mode, on RGB.
void NonSeparable(BlendMode mode, const float* b, const float* s, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = s[i];
  switch (mode) {
    case BlendMode::Hue:
      SetSat(out, Sat(b));
      SetLum(out, Lum(b));
      break;
    case BlendMode::Saturation:
      for (int i = 0; i < 3; ++i) out[i] = b[i];
      SetSat(out, Sat(s));
      SetLum(out, Lum(b));
      break;
    case BlendMode::Colour: SetLum(out, Lum(b)); break;
    case BlendMode::Luminosity:
      for (int i = 0; i < 3; ++i) out[i] = b[i];
      SetLum(out, Lum(s));
      break;
    case BlendMode::DarkerColour:
      if (Lum(b) <= Lum(s)) for (int i = 0; i < 3; ++i) out[i] = b[i];
      break;
    case BlendMode::LighterColour:
      if (Lum(b) >= Lum(s)) for (int i = 0; i < 3; ++i) out[i] = b[i];
      break;
    default: break;
  }
}

// CMYK as stored (1 is no ink) is seen as RGB by letting black darken the
// light that cyan, magenta and yellow leave. The mode works on that RGB; the
// result keeps the black of the side whose lightness it keeps (the source's
// for luminosity, the backdrop's otherwise) and its other inks are worked back
// from the RGB. Darker and lighter colour take one side's pixel whole.
void NonSeparableCmyk(BlendMode mode, const float* b, const float* s, float* out) {
  float lightB[3], lightS[3], mixed[3];
  for (int i = 0; i < 3; ++i) {
    lightB[i] = b[i] * b[3];
    lightS[i] = s[i] * s[3];
  }
  if (mode == BlendMode::DarkerColour || mode == BlendMode::LighterColour) {
    const bool keepBackdrop = mode == BlendMode::DarkerColour ? Lum(lightB) <= Lum(lightS) : Lum(lightB) >= Lum(lightS);
    for (int i = 0; i < 4; ++i) out[i] = keepBackdrop ? b[i] : s[i];
    return;
  }
  NonSeparable(mode, lightB, lightS, mixed);
  const float k = mode == BlendMode::Luminosity ? s[3] : b[3];
  for (int i = 0; i < 3; ++i) out[i] = k > 0 ? std::min(1.0f, mixed[i] / k) : 1.0f;
  out[3] = k;
}

// Lab keeps lightness apart from colour: luminosity takes the source's L and
// colour its a and b; hue and saturation take the hue angle or the chroma
// (distance from grey) in the a-b plane from one side and the rest from the
// other; darker and lighter colour choose by L.
void NonSeparableLab(BlendMode mode, float centre, const float* b, const float* s, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = b[i];
  const float chromaB = std::hypot(b[1] - centre, b[2] - centre);
  const float chromaS = std::hypot(s[1] - centre, s[2] - centre);
  // One side's hue at the other's chroma; no hue to take leaves grey.
  auto hueAtChroma = [&](const float* hue, float hueChroma, float chroma) {
    const float k = hueChroma > 0 ? chroma / hueChroma : 0.0f;
    out[1] = centre + (hue[1] - centre) * k;
    out[2] = centre + (hue[2] - centre) * k;
  };
  switch (mode) {
    case BlendMode::Luminosity: out[0] = s[0]; break;
    case BlendMode::Colour: out[1] = s[1], out[2] = s[2]; break;
    case BlendMode::Hue: hueAtChroma(s, chromaS, chromaB); break;
    case BlendMode::Saturation: hueAtChroma(b, chromaB, chromaS); break;
    case BlendMode::DarkerColour:
      if (s[0] < b[0]) for (int i = 0; i < 3; ++i) out[i] = s[i];
      break;
    case BlendMode::LighterColour:
      if (s[0] > b[0]) for (int i = 0; i < 3; ++i) out[i] = s[i];
      break;
    default: break;
  }
}

// On one grey channel the hue and saturation of either side are nil: the
// modes that keep the backdrop's lightness keep the backdrop.
float NonSeparableGrey(BlendMode mode, float b, float s) {
  switch (mode) {
    case BlendMode::Luminosity: return s;
    case BlendMode::DarkerColour: return std::min(b, s);
    case BlendMode::LighterColour: return std::max(b, s);
    default: return b;
  }
}

}  // namespace

namespace {

// Each blend mode under the key layer records give it and the name layer
// styles' descriptors give it (pass-through is for groups only, and has none).
struct BlendModeRow {
  FourCC key;
  std::string_view name;
  std::string_view longName;  // the name newer files write
  BlendMode mode;
};
constexpr BlendModeRow kBlendModeRows[] = {
    {FourCC("pass"), "", "", BlendMode::PassThrough},
    {FourCC("norm"), "Nrml", "normal", BlendMode::Normal},
    {FourCC("diss"), "Dslv", "dissolve", BlendMode::Dissolve},
    {FourCC("dark"), "Drkn", "darken", BlendMode::Darken},
    {FourCC("mul "), "Mltp", "multiply", BlendMode::Multiply},
    {FourCC("idiv"), "CBrn", "colorBurn", BlendMode::ColourBurn},
    {FourCC("lbrn"), "linearBurn", "linearBurn", BlendMode::LinearBurn},
    {FourCC("dkCl"), "darkerColor", "darkerColor", BlendMode::DarkerColour},
    {FourCC("lite"), "Lghn", "lighten", BlendMode::Lighten},
    {FourCC("scrn"), "Scrn", "screen", BlendMode::Screen},
    {FourCC("div "), "CDdg", "colorDodge", BlendMode::ColourDodge},
    {FourCC("lddg"), "linearDodge", "linearDodge", BlendMode::LinearDodge},
    {FourCC("lgCl"), "lighterColor", "lighterColor", BlendMode::LighterColour},
    {FourCC("over"), "Ovrl", "overlay", BlendMode::Overlay},
    {FourCC("sLit"), "SftL", "softLight", BlendMode::SoftLight},
    {FourCC("hLit"), "HrdL", "hardLight", BlendMode::HardLight},
    {FourCC("vLit"), "vividLight", "vividLight", BlendMode::VividLight},
    {FourCC("lLit"), "linearLight", "linearLight", BlendMode::LinearLight},
    {FourCC("pLit"), "pinLight", "pinLight", BlendMode::PinLight},
    {FourCC("hMix"), "hardMix", "hardMix", BlendMode::HardMix},
    {FourCC("diff"), "Dfrn", "difference", BlendMode::Difference},
    {FourCC("smud"), "Xclu", "exclusion", BlendMode::Exclusion},
    {FourCC("fsub"), "blendSubtraction", "blendSubtraction", BlendMode::Subtract},
    {FourCC("fdiv"), "blendDivide", "blendDivide", BlendMode::Divide},
    {FourCC("hue "), "H   ", "hue", BlendMode::Hue},
    {FourCC("sat "), "Strt", "saturation", BlendMode::Saturation},
    {FourCC("colr"), "Clr ", "color", BlendMode::Colour},
    {FourCC("lum "), "Lmns", "luminosity", BlendMode::Luminosity},
};

}  // namespace

BlendMode BlendModeFromKey(FourCC key) {
  for (const BlendModeRow& row : kBlendModeRows) {
    if (row.key == key) return row.mode;
  }
  return BlendMode::Normal;
}

std::optional<BlendMode> BlendModeFromName(std::string_view name) {
  for (const BlendModeRow& row : kBlendModeRows) {
    if (!row.name.empty() && (row.name == name || row.longName == name)) return row.mode;
  }
  return std::nullopt;
}

namespace {

// The alpha of a source over a backdrop; exactly 1 where either is opaque,
// so that a deep picture the layers cover fully keeps no alpha channel.
float UnionAlpha(float as, float ab) { return as >= 1 || ab >= 1 ? 1.0f : as + ab - as * ab; }

// BlendPixels for one mode, fixed so that the mode's formula is inlined.
template <BlendMode M>
void BlendLoop(int channels, float* backdropColour, float* backdropAlpha, const float* sourceColour,
               const float* coverage, std::uint64_t count, BlendSpace space) {
  constexpr bool kNonSeparable = M == BlendMode::Hue || M == BlendMode::Saturation || M == BlendMode::Colour ||
                                 M == BlendMode::Luminosity || M == BlendMode::DarkerColour ||
                                 M == BlendMode::LighterColour;
  constexpr bool kPlain = M == BlendMode::Normal || M == BlendMode::Dissolve || M == BlendMode::PassThrough;
  for (std::uint64_t i = 0; i < count; ++i) {
    const float as = coverage[i];
    if (as <= 0) continue;
    float* cb = backdropColour + i * static_cast<std::uint64_t>(channels);
    const float* cs = sourceColour + i * static_cast<std::uint64_t>(channels);
    const float ab = backdropAlpha[i];
    // An opaque source in a plain mode, or any source over nothing, simply replaces.
    if ((kPlain && as >= 1) || ab <= 0) {
      for (int c = 0; c < channels; ++c) cb[c] = cs[c];
      backdropAlpha[i] = UnionAlpha(as, ab);
      continue;
    }
    const float ar = UnionAlpha(as, ab);
    float mixed[4];
    if constexpr (kPlain) {
      for (int c = 0; c < channels; ++c) mixed[c] = cs[c];
    } else if constexpr (kNonSeparable) {
      if (channels == 3 && space != BlendSpace::Light) {
        NonSeparableLab(M, space == BlendSpace::Lab16 ? 32768.0f / 65535 : 128.0f / 255, cb, cs, mixed);
      } else if (channels == 3) {
        NonSeparable(M, cb, cs, mixed);
      } else if (channels == 4) {
        NonSeparableCmyk(M, cb, cs, mixed);
      } else {
        for (int c = 0; c < channels; ++c) mixed[c] = NonSeparableGrey(M, cb[c], cs[c]);
      }
    } else {
      for (int c = 0; c < channels; ++c) mixed[c] = Separable(M, cb[c], cs[c]);
    }
    // Where the backdrop is transparent the source shows as it is; where both
    // are there, the blended colour; the rest of the backdrop shows through.
    const float inv = 1 / ar;
    for (int c = 0; c < channels; ++c) {
      cb[c] = ((1 - ab) * as * cs[c] + as * ab * mixed[c] + (1 - as) * ab * cb[c]) * inv;
    }
    backdropAlpha[i] = ar;
  }
}

using BlendLoopFunction = void (*)(int, float*, float*, const float*, const float*, std::uint64_t, BlendSpace);

template <std::size_t... Modes>
constexpr std::array<BlendLoopFunction, sizeof...(Modes)> MakeBlendLoops(std::index_sequence<Modes...>) {
  return {&BlendLoop<static_cast<BlendMode>(Modes)>...};
}

// One loop per mode, in the order of the enumeration (PassThrough is last).
constexpr auto kBlendLoops = MakeBlendLoops(std::make_index_sequence<static_cast<std::size_t>(BlendMode::PassThrough) + 1>());

}  // namespace

void BlendPixels(BlendMode mode, int channels, float* backdropColour, float* backdropAlpha,
                 const float* sourceColour, const float* coverage, std::uint64_t count, BlendSpace space) {
  kBlendLoops[static_cast<std::size_t>(mode)](channels, backdropColour, backdropAlpha, sourceColour, coverage, count,
                                              space);
}

}  // namespace kestrel
