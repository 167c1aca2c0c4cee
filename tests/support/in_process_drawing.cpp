// The core tests link the drawing code itself instead of loading its module.
#include "engine/steps/drawing.h"

namespace {

const bool kRegistered = [] {
  kestrel::UseDrawingInProcess(kestrel::InProcessDrawApi());
  return true;
}();

}  // namespace
