#include "engine/composite/knockout.h"

#include <algorithm>

namespace kestrel {

bool HasShallowKnockout(const std::vector<LayerNode>& nodes) {
  return std::any_of(nodes.begin(), nodes.end(),
                     [](const LayerNode& n) { return !n.group && n.layer->knockout == kShallowKnockout; });
}

bool IsBackgroundLayer(const LayerNode& node) {
  const PsdLayer& layer = *node.layer;
  return !node.group && !layer.hidden && !layer.isAdjustment && layer.Channel(kLayerTransparency) == nullptr &&
         layer.channels.size() > 0;
}

template <typename T>
Canvas<T> CopyOf(const Canvas<T>& canvas) {
  Canvas<T> copy(canvas.rect, canvas.channels);
  const auto width = static_cast<std::size_t>(canvas.rect.Width());
  std::vector<float> colour(width * static_cast<std::size_t>(canvas.channels)), alpha(width);
  for (std::int64_t y = canvas.rect.top; y < canvas.rect.bottom; ++y) {
    canvas.LoadRow(y, canvas.rect.left, width, colour.data(), alpha.data());
    copy.StoreRow(y, canvas.rect.left, width, colour.data(), alpha.data());
  }
  return copy;
}

template <typename T>
void KnockOutRow(BlendMode mode, BlendSpace space, const Canvas<T>* stop, Canvas<T>& dest, std::int64_t y,
                 std::int64_t left, std::size_t count, const float* colour, const float* shape, float fill,
                 float opacity) {
  const int n = dest.channels;
  std::vector<float> knocked(count * n, 0.0f), knockedAlpha(count, 0.0f), under(count * n), underAlpha(count);
  // Over the stop the colour lies by the fill alone: an edge's partial shape
  // is counted once, in how far the result replaces what lay beneath (as in
  // PDF's knockout groups, where shape and opacity are kept apart).
  std::vector<float> coverage(count, fill);
  if (stop != nullptr) stop->LoadRow(y, left, count, knocked.data(), knockedAlpha.data());
  BlendPixels(mode, n, knocked.data(), knockedAlpha.data(), colour, coverage.data(), count, space);
  dest.LoadRow(y, left, count, under.data(), underAlpha.data());
  // The knocked-out result replaces what lay beneath by the layer's shape and opacity (premultiplied).
  for (std::size_t x = 0; x < count; ++x) {
    const float w = shape[x] * opacity;
    const float a = underAlpha[x] + (knockedAlpha[x] - underAlpha[x]) * w;
    for (int c = 0; c < n; ++c) {
      const std::size_t at = x * n + c;
      const float premultiplied = under[at] * underAlpha[x] + (knocked[at] * knockedAlpha[x] - under[at] * underAlpha[x]) * w;
      under[at] = a > 0 ? premultiplied / a : 0.0f;
    }
    underAlpha[x] = a;
  }
  dest.StoreRow(y, left, count, under.data(), underAlpha.data());
}

template Canvas<std::uint8_t> CopyOf(const Canvas<std::uint8_t>&);
template Canvas<std::uint16_t> CopyOf(const Canvas<std::uint16_t>&);
template Canvas<float> CopyOf(const Canvas<float>&);
template void KnockOutRow(BlendMode, BlendSpace, const Canvas<std::uint8_t>*, Canvas<std::uint8_t>&, std::int64_t,
                          std::int64_t, std::size_t, const float*, const float*, float, float);
template void KnockOutRow(BlendMode, BlendSpace, const Canvas<std::uint16_t>*, Canvas<std::uint16_t>&, std::int64_t,
                          std::int64_t, std::size_t, const float*, const float*, float, float);
template void KnockOutRow(BlendMode, BlendSpace, const Canvas<float>*, Canvas<float>&, std::int64_t, std::int64_t,
                          std::size_t, const float*, const float*, float, float);

}  // namespace kestrel
