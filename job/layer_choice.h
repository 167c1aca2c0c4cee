// Which layers --layer and --each-layer draw, chosen from the facts of the
// file: a selector is an index as --info shows it, or a path of names from
// the top ("Group/Sub/Layer"); a path that several layers share is refused
// with the list of them.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/decode/file_facts.h"

namespace kestrel {

struct LayerPick {
  std::int64_t index = -1;  // the layer's record in the file
  std::string name;
  // The layer's bounds on the canvas (a group's: its layers' together), within the canvas.
  std::int64_t left = 0, top = 0, right = 0, bottom = 0;
};

// The layer the selector names, or why none can be taken (one line).
std::variant<LayerPick, std::string> PickLayer(const FileFacts& facts, const std::string& selector);

// Every top-level layer and group, bottom first.
std::vector<LayerPick> TopLevelLayers(const FileFacts& facts);

// The layer's names from the top, joined by "/".
std::string LayerPath(const FileFacts& facts, const LayerFacts& layer);

}  // namespace kestrel
