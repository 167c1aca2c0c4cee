// Takes the place of engine/decode/load_input.cpp in kestrel_in_process: the program
// exactly as built, but with the decoder in the process, unconfined. It exists
// only for bench/sandbox_cost.sh, which runs both programs on the same files to
// measure what the confinement costs; it is never installed.
#include "engine/decode/load.h"
#include "engine/decode/confined_psd.h"

namespace kestrel {

ImageResult LoadInputImage(const std::string& path, int flags) { return LoadPsdInProcess(path, flags); }

}  // namespace kestrel
