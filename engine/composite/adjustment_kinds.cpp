#include "engine/composite/adjustment_kinds.h"

#include <array>
#include <vector>

namespace kestrel {
namespace {

struct AdjustmentKind {
  FourCC key;
  const char* name;
};

// Older files hold hue/saturation as "hue ", later ones as "hue2"; both share a name and a bit.
constexpr std::array<AdjustmentKind, 21> kKinds = {{
    {"brit", "brightness/contrast"}, {"levl", "levels"},          {"curv", "curves"},
    {"expA", "exposure"},            {"vibA", "vibrance"},        {"hue2", "hue/saturation"},
    {"hue ", "hue/saturation"},      {"blnc", "colour balance"},  {"blwh", "black and white"},
    {"phfl", "photo filter"},        {"mixr", "channel mixer"},   {"clrL", "colour lookup"},
    {"nvrt", "invert"},              {"post", "posterize"},       {"thrs", "threshold"},
    {"grdm", "gradient map"},        {"selc", "selective colour"}, {"SoCo", "solid colour fill"},
    {"GdFl", "gradient fill"},       {"PtFl", "pattern fill"},    {"CgEd", "brightness/contrast"},
}};

}  // namespace

std::uint32_t AdjustmentKindBit(FourCC key) {
  for (const AdjustmentKind& kind : kKinds) {
    if (kind.key != key) continue;
    // The bit of the first row with the same name.
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
      if (std::string_view(kKinds[i].name) == kind.name) return 1u << i;
    }
  }
  return 0;
}

std::string AdjustmentKindNames(std::uint32_t bits) {
  std::vector<const char*> names;
  for (std::size_t i = 0; i < kKinds.size(); ++i) {
    if ((bits & (1u << i)) != 0) names.push_back(kKinds[i].name);
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace kestrel
