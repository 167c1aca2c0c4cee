#include "output/facts_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace kestrel {
namespace {

using Json = nlohmann::ordered_json;

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json LayerJson(const LayerFacts& layer) {
  Json effects = Json::array();
  for (const EffectFacts& effect : layer.effects) {
    effects.push_back({{"kind", effect.kind}, {"enabled", effect.enabled}});
  }
  return {{"index", layer.index},
          {"parent", layer.parent < 0 ? Json(nullptr) : Json(layer.parent)},
          {"name", layer.name},
          {"kind", layer.kind},
          {"blend_mode", layer.blendMode},
          {"opacity", layer.opacity},
          {"fill_opacity", layer.fillOpacity},
          {"visible", layer.visible},
          {"clipping", layer.clipping},
          {"mask", OrNull(layer.mask)},
          {"vector_mask", OrNull(layer.vectorMask)},
          {"effects_enabled", layer.effectsEnabled},
          {"effects", effects},
          {"bounds", {{"left", layer.left}, {"top", layer.top}, {"right", layer.right}, {"bottom", layer.bottom}}}};
}

Json FileJson(const NamedFacts& file) {
  Json object = {{"version", kFactsJsonVersion}, {"file", file.file}};
  if (!file.result.facts) {
    object["error"] = {{"message", file.result.failure}};
    return object;
  }
  const FileFacts& facts = *file.result.facts;
  object["format"] = facts.format;
  object["width"] = facts.width;
  object["height"] = facts.height;
  object["colour_mode"] = facts.colourMode;
  object["depth"] = facts.depth;
  object["channels"] = facts.channels;
  Json extra = Json::array();
  for (const ChannelFacts& channel : facts.extraChannels) {
    extra.push_back({{"index", channel.index}, {"kind", channel.kind}, {"name", OrNull(channel.name)}});
  }
  object["extra_channels"] = extra;
  object["resolution"] = facts.resolutionX > 0 && facts.resolutionY > 0
                             ? Json{{"x", facts.resolutionX}, {"y", facts.resolutionY}}
                             : Json(nullptr);
  object["colour_profile"] = facts.hasProfile ? Json(facts.profile) : Json(nullptr);
  object["real_merged_image"] = facts.realMergedImage;
  object["conversion"] = {{"picture", facts.picture}, {"not_drawn", facts.notDrawn}};
  Json layers = Json::array();
  for (const LayerFacts& layer : facts.layers) layers.push_back(LayerJson(layer));
  object["layers"] = layers;
  object["layer_problem"] = OrNull(facts.layerProblem);
  return object;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

int Depth(const FileFacts& facts, const LayerFacts& layer) {
  int depth = 0;
  for (std::int64_t parent = layer.parent; parent >= 0 && depth < 64; ++depth) {
    std::int64_t next = -1;
    for (const LayerFacts& other : facts.layers) {
      if (other.index == parent) next = other.parent;
    }
    parent = next;
  }
  return depth;
}

}  // namespace

std::string FactsAsJson(const std::vector<NamedFacts>& files) {
  Json json;
  if (files.size() == 1) {
    json = FileJson(files.front());
  } else {
    json = Json::array();
    for (const NamedFacts& file : files) json.push_back(FileJson(file));
  }
  // Every text was made valid UTF-8 already; replacing keeps a slip from ending the run.
  return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::string> FactsAsText(const NamedFacts& file) {
  std::vector<std::string> lines;
  if (!file.result.facts) {
    lines.push_back(file.file + ": " + file.result.failure);
    return lines;
  }
  const FileFacts& facts = *file.result.facts;
  lines.push_back(file.file + ": " + facts.format + ", " + std::to_string(facts.width) + " x " +
                  std::to_string(facts.height) + ", " + facts.colourMode + ", " + std::to_string(facts.depth) +
                  " bits per channel, " + std::to_string(facts.channels) + " channels");
  for (const ChannelFacts& channel : facts.extraChannels) {
    lines.push_back("  channel " + std::to_string(channel.index) + ": " + channel.kind +
                    (channel.name.empty() ? "" : " \"" + channel.name + "\""));
  }
  if (facts.resolutionX > 0) {
    lines.push_back("  resolution: " + Number(facts.resolutionX) + " x " + Number(facts.resolutionY) +
                    " pixels per inch");
  }
  if (facts.hasProfile) lines.push_back("  colour profile: " + facts.profile);
  lines.push_back(std::string("  merged image: ") + (facts.realMergedImage ? "real" : "a placeholder"));
  lines.push_back("  conversion: " + std::string(facts.picture == "layers" ? "rebuilt from the layers"
                                                                           : "the stored merged image"));
  for (const std::string& left : facts.notDrawn) lines.push_back("    not drawn: " + left);
  if (!facts.layerProblem.empty()) lines.push_back("  layers unreadable: " + facts.layerProblem);
  if (!facts.layers.empty()) lines.push_back("  layers (index, kind, name; top first):");
  for (auto layer = facts.layers.rbegin(); layer != facts.layers.rend(); ++layer) {
    std::string line = "    " + std::string(2 * static_cast<std::size_t>(Depth(facts, *layer)), ' ') +
                       std::to_string(layer->index) + "  " + layer->kind + "  \"" + layer->name + "\"  " +
                       layer->blendMode + "  opacity " + std::to_string(layer->opacity);
    if (layer->fillOpacity != 255) line += "  fill " + std::to_string(layer->fillOpacity);
    if (!layer->visible) line += "  hidden";
    if (layer->clipping) line += "  clipped";
    if (!layer->mask.empty()) line += "  mask (" + layer->mask + ")";
    if (!layer->vectorMask.empty()) line += "  vector mask (" + layer->vectorMask + ")";
    for (const EffectFacts& effect : layer->effects) {
      line += "  " + effect.kind + (effect.enabled && layer->effectsEnabled ? "" : " (off)");
    }
    line += "  [" + std::to_string(layer->left) + "," + std::to_string(layer->top) + " - " +
            std::to_string(layer->right) + "," + std::to_string(layer->bottom) + "]";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kestrel
