#include "job/layer_choice.h"

#include <algorithm>

namespace kestrel {
namespace {

const LayerFacts* Find(const FileFacts& facts, std::int64_t index) {
  for (const LayerFacts& layer : facts.layers) {
    if (layer.index == index) return &layer;
  }
  return nullptr;
}

bool Inside(const FileFacts& facts, const LayerFacts& layer, std::int64_t group) {
  int steps = 0;
  for (std::int64_t parent = layer.parent; parent >= 0 && steps < 1000; ++steps) {
    if (parent == group) return true;
    const LayerFacts* up = Find(facts, parent);
    parent = up != nullptr ? up->parent : -1;
  }
  return false;
}

LayerPick PickOf(const FileFacts& facts, const LayerFacts& layer) {
  LayerPick pick{layer.index, layer.name, layer.left, layer.top, layer.right, layer.bottom};
  if (layer.kind == "group") {
    bool any = false;
    for (const LayerFacts& inner : facts.layers) {
      if (!Inside(facts, inner, layer.index) || inner.right <= inner.left || inner.bottom <= inner.top) continue;
      pick.left = any ? std::min(pick.left, inner.left) : inner.left;
      pick.top = any ? std::min(pick.top, inner.top) : inner.top;
      pick.right = any ? std::max(pick.right, inner.right) : inner.right;
      pick.bottom = any ? std::max(pick.bottom, inner.bottom) : inner.bottom;
      any = true;
    }
    if (!any) pick.left = pick.top = pick.right = pick.bottom = 0;
  }
  pick.left = std::clamp<std::int64_t>(pick.left, 0, facts.width);
  pick.right = std::clamp<std::int64_t>(pick.right, 0, facts.width);
  pick.top = std::clamp<std::int64_t>(pick.top, 0, facts.height);
  pick.bottom = std::clamp<std::int64_t>(pick.bottom, 0, facts.height);
  return pick;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() < 10 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string LayerPath(const FileFacts& facts, const LayerFacts& layer) {
  std::string path = layer.name;
  int steps = 0;
  for (const LayerFacts* up = Find(facts, layer.parent); up != nullptr && steps < 1000; ++steps) {
    path = up->name + "/" + path;
    up = Find(facts, up->parent);
  }
  return path;
}

std::variant<LayerPick, std::string> PickLayer(const FileFacts& facts, const std::string& selector) {
  if (AllDigits(selector)) {
    if (const LayerFacts* layer = Find(facts, std::stoll(selector))) return PickOf(facts, *layer);
    return "no layer has the index " + selector + " (--info lists them)";
  }
  std::vector<const LayerFacts*> matches;
  for (const LayerFacts& layer : facts.layers) {
    if (LayerPath(facts, layer) == selector) matches.push_back(&layer);
  }
  if (matches.empty()) return "no layer is named \"" + selector + "\" (--info lists them)";
  if (matches.size() > 1) {
    std::string list;
    for (const LayerFacts* layer : matches) list += (list.empty() ? "" : ", ") + std::to_string(layer->index);
    return "several layers are named \"" + selector + "\": choose one by its index: " + list;
  }
  return PickOf(facts, *matches.front());
}

std::vector<LayerPick> TopLevelLayers(const FileFacts& facts) {
  std::vector<LayerPick> picks;
  for (const LayerFacts& layer : facts.layers) {
    if (layer.parent < 0) picks.push_back(PickOf(facts, layer));
  }
  return picks;
}

}  // namespace kestrel
