// What the compositor's own canvases cost at their deepest, known from the
// layer records alone, before anything is drawn: a group (other than a
// pass-through one) or a layer with others clipped to it is made whole on a
// canvas over the part of the picture it can change; a pass-through group
// that fades keeps a copy of what lay beneath it; a clipped layer keeps its
// base's alpha; vector masks are cut as fractions over the area they cover.
// These nest as the groups do. Layers that are hidden under an opaque one are
// counted all the same: the figure is a bound, not a guess.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/psd/layer_records.h"

namespace kestrel {

// Bytes held at once beyond the picture's own canvas while `layers` are
// drawn onto it; `channels` colour samples and one alpha sample a pixel, of
// `sampleBytes` each.
std::uint64_t NestedCanvasBytes(const std::vector<PsdLayer>& layers, const PsdRect& picture, int channels,
                                int sampleBytes);

}  // namespace kestrel
