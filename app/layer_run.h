// --layer and --each-layer on the command line: the input's facts are read
// (confined) before anything is converted, so that the selector can be
// checked and a name that several layers share refused with their list.
#pragma once

#include <optional>
#include <string>

#include "app/options.h"
#include "model/app_state.h"

namespace kestrel {

struct LayerPlanRefusal {
  std::string line;  // already said when empty
  int exitCode = 1;
};

// Fills flags.picks with the layers to draw; a refusal when there are none.
std::optional<LayerPlanRefusal> PlanLayers(AppState& state, DriverFlags& flags);

// Makes the run draw `pick` alone.
void UseLayerPick(RunState& run, const LayerPick& pick, bool crop);

}  // namespace kestrel
