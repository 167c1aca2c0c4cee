// The one way the program decodes an input: confined. It sits alone in this
// file so that the bench can link a copy of the program whose decoder runs in
// process (bench/in_process_load.cpp) and measure what the confinement costs.
#include "engine/decode/load.h"
#include "engine/decode/confined_psd.h"

namespace kestrel {

ImageResult LoadInputImage(const std::string& path, int flags) { return LoadPsdSandboxed(path, flags); }

}  // namespace kestrel
