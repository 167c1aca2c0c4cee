#include "app/layer_run.h"

#include "engine/decode/confined_psd.h"
#include "platform/text.h"

namespace kestrel {

namespace {
constexpr int kUsageError = 2;
}  // namespace

std::optional<LayerPlanRefusal> PlanLayers(AppState& state, DriverFlags& flags) {
  const std::string& path = state.run.input;
  const FactsResult read = ReadPsdFactsSandboxed(path);
  if (!read.facts) {
    ReportProblem(state, (state.run.inputLabel.empty() ? path : state.run.inputLabel) + ": " + read.failure);
    return LayerPlanRefusal{{}, 1};
  }
  if (!flags.layer.empty()) {
    auto picked = PickLayer(*read.facts, flags.layer);
    if (const auto* refusal = std::get_if<std::string>(&picked)) return LayerPlanRefusal{"Error: " + *refusal, kUsageError};
    flags.picks = {std::get<LayerPick>(picked)};
    return std::nullopt;
  }
  flags.picks = TopLevelLayers(*read.facts);
  if (flags.picks.empty()) {
    ReportProblem(state, (state.run.inputLabel.empty() ? path : state.run.inputLabel) + ": the file has no layers");
    return LayerPlanRefusal{{}, 1};
  }
  // One file for each layer: their names must differ by the layer.
  const std::string mask = LowerCase(state.settings.Text(SettingId::FilenameMask));
  if (mask.find("%layer%") == std::string::npos) {
    if (!mask.empty() && mask != "%filename%.%ext%") {
      return LayerPlanRefusal{"Error: --each-layer needs %layer% in the file-name mask", kUsageError};
    }
    state.settings.SetText(SettingId::FilenameMask, std::string(kDefaultLayerMask));
  }
  return std::nullopt;
}

void UseLayerPick(RunState& run, const LayerPick& pick, bool crop) {
  run.layerIndex = static_cast<int>(pick.index);
  run.layerName = pick.name;
  run.layerCrop = crop;
  run.cropLeft = static_cast<int>(pick.left);
  run.cropTop = static_cast<int>(pick.top);
  run.cropRight = static_cast<int>(pick.right);
  run.cropBottom = static_cast<int>(pick.bottom);
}

}  // namespace kestrel
