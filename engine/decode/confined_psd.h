// Loading a Photoshop file without trusting it. The file is opened once (a
// regular file only: never a FIFO or a device), its header is checked, the
// memory it needs is weighed against what the machine has, and it is decoded
// in a confined decode (engine/confine/confined_decode.h) that runs
// engine/decode/psd_decode.h and hands the bitmap back through a pipe. A
// crash, a limit or a hang of the decoder fails that file only.
#pragma once

#include <string>

#include <cstddef>
#include <optional>

#include "engine/bitmap/image.h"
#include "engine/decode/file_facts.h"

namespace kestrel {

// The image, or why there is none in words for the user: the file cannot be
// opened or is not a regular file, the header check refused it (its
// PsdHeaderCheck problem), or the decoder failed, crashed, was stopped at its
// memory or time limit, or sent back an image that does not match the header.
// A picture rebuilt from the layers, or a placeholder kept because they
// could not be, comes with a note that says so (and why).
ImageResult LoadPsdSandboxed(const std::string& path, int flags);

// The same for the layer or group whose record is `layer` (0 the bottom one),
// drawn alone over transparency at the document's size
// (engine/decode/layer_alone.h), or why it could not be.
ImageResult LoadPsdLayerSandboxed(const std::string& path, int flags, std::size_t layer);

struct FactsResult {
  std::optional<FileFacts> facts;
  std::string failure;  // why there are none, as LoadPsdSandboxed words it
};

// What the file holds, read in the confined child without decoding its pixels.
FactsResult ReadPsdFactsSandboxed(const std::string& path);

// The same checks and decoding in this process, unconfined.
// For the bench that measures what the isolation costs; nothing else uses it.
ImageResult LoadPsdInProcess(const std::string& path, int flags);

// Test hook: when set, the confined child runs this instead of decoding (to
// show what the confinement refuses). Returns the child's exit code.
using SandboxProbe = int (*)(int inputFd);
void SetSandboxProbeForTesting(SandboxProbe probe);

}  // namespace kestrel
