// Choosing the layer that --layer draws, and those --each-layer draws, from a file's facts.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "job/layer_choice.h"

namespace kestrel {
namespace {

LayerFacts Layer(std::int64_t index, std::int64_t parent, const char* name, const char* kind,
                 std::vector<std::int64_t> bounds) {
  LayerFacts layer;
  layer.index = index;
  layer.parent = parent;
  layer.name = name;
  layer.kind = kind;
  layer.left = bounds[0];
  layer.top = bounds[1];
  layer.right = bounds[2];
  layer.bottom = bounds[3];
  return layer;
}

// Background; Group (a group end marker at 1) holding Sky, Sub (end marker at 3) holding Sky; a second "Sky" on top.
FileFacts Facts() {
  FileFacts facts;
  facts.width = 100;
  facts.height = 50;
  facts.layers = {Layer(0, -1, "Background", "pixel", {0, 0, 100, 50}),
                  Layer(2, 6, "Sky", "pixel", {-10, 5, 20, 15}),
                  Layer(4, 5, "Sky", "pixel", {30, 20, 40, 60}),
                  Layer(5, 6, "Sub", "group", {0, 0, 0, 0}),
                  Layer(6, -1, "Group", "group", {0, 0, 0, 0}),
                  Layer(7, -1, "Sky", "pixel", {1, 2, 3, 4})};
  return facts;
}

TEST(LayerChoice, SelectorsByIndexAndByNamePath) {
  struct Case {
    const char* selector;
    std::int64_t index;
  };
  const Case cases[] = {{"0", 0}, {"4", 4}, {"Background", 0}, {"Group/Sky", 2}, {"Group/Sub/Sky", 4},
                        {"Group/Sub", 5}, {"Group", 6}, {"Sky", 7}};
  for (const Case& c : cases) {
    const auto picked = PickLayer(Facts(), c.selector);
    ASSERT_TRUE(std::holds_alternative<LayerPick>(picked)) << c.selector << ": " << std::get<std::string>(picked);
    EXPECT_EQ(std::get<LayerPick>(picked).index, c.index) << c.selector;
  }
}

TEST(LayerChoice, RefusalsSayWhy) {
  FileFacts facts = Facts();
  facts.layers.push_back(Layer(8, -1, "Sky", "pixel", {0, 0, 1, 1}));
  struct Case {
    const char* selector;
    const char* line;
  };
  const Case cases[] = {
      {"Sky", "several layers are named \"Sky\": choose one by its index: 7, 8"},
      {"Clouds", "no layer is named \"Clouds\" (--info lists them)"},
      {"1", "no layer has the index 1 (--info lists them)"},  // a group's end marker is no layer
      {"99", "no layer has the index 99 (--info lists them)"},
      {"Sub/Sky", "no layer is named \"Sub/Sky\" (--info lists them)"},  // paths begin at the top
  };
  for (const Case& c : cases) {
    const auto picked = PickLayer(facts, c.selector);
    ASSERT_TRUE(std::holds_alternative<std::string>(picked)) << c.selector;
    EXPECT_EQ(std::get<std::string>(picked), c.line);
  }
}

TEST(LayerChoice, BoundsAreTheLayersOrTheGroupsLayersTogetherWithinTheCanvas) {
  const auto sky = std::get<LayerPick>(PickLayer(Facts(), "Group/Sky"));
  EXPECT_EQ(std::vector<std::int64_t>({sky.left, sky.top, sky.right, sky.bottom}),
            std::vector<std::int64_t>({0, 5, 20, 15}));
  const auto group = std::get<LayerPick>(PickLayer(Facts(), "Group"));
  EXPECT_EQ(std::vector<std::int64_t>({group.left, group.top, group.right, group.bottom}),
            std::vector<std::int64_t>({0, 5, 40, 50}));
}

TEST(LayerChoice, EachLayerTakesTheTopLevelOnesBottomFirst) {
  std::vector<std::string> names;
  for (const LayerPick& pick : TopLevelLayers(Facts())) names.push_back(std::to_string(pick.index) + pick.name);
  EXPECT_EQ(names, (std::vector<std::string>{"0Background", "6Group", "7Sky"}));
}

}  // namespace
}  // namespace kestrel
