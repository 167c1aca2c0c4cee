// The one symbol the drawing module exports.
#include "engine/steps/drawing.h"

extern "C" __attribute__((visibility("default"))) const kestrel::DrawApi* kestrel_draw_api() {
  return kestrel::InProcessDrawApi();
}
