// Knockout: within its shape, a layer so marked is laid not over what lies
// directly beneath it but over the picture as it was at a stop further down,
// which it lets show through. A shallow knockout stops where its group began
// (for a layer outside groups, at the background layer); a deep one at the
// background layer, or at transparency in a file without one or inside a
// group drawn on its own. The layer's fill opacity sets how much of its
// colour lies over the stop; its opacity how far the knockout goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/composite/blend_modes.h"
#include "engine/composite/canvas.h"
#include "engine/composite/layer_tree.h"

namespace kestrel {

inline constexpr std::uint8_t kShallowKnockout = 1;
inline constexpr std::uint8_t kDeepKnockout = 2;

// Whether any of `nodes` (not their children) knocks out to their group's start.
bool HasShallowKnockout(const std::vector<LayerNode>& nodes);

// Whether `node` is a background layer: a plain layer without transparency.
bool IsBackgroundLayer(const LayerNode& node);

// A canvas of its own with the pixels of `canvas`.
template <typename T>
Canvas<T> CopyOf(const Canvas<T>& canvas);

// Lays row y of a knockout layer, [left, left + count), onto `dest`: its
// colour over the stop's row (transparent where `stop` is null) in `mode`
// by `fill`, and the result over the row of `dest` by `shape` (its alpha cut
// by its masks) times `opacity`.
template <typename T>
void KnockOutRow(BlendMode mode, BlendSpace space, const Canvas<T>* stop, Canvas<T>& dest, std::int64_t y,
                 std::int64_t left, std::size_t count, const float* colour, const float* shape, float fill,
                 float opacity);

}  // namespace kestrel
