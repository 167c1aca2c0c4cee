// Loading a Photoshop file without trusting it. The file is opened once (a
// regular file only: never a FIFO or a device), its header is checked, and
// FreeImage decodes it in a confined child process (platform/sandbox.h) that
// reads the open descriptor through FreeImage's handle I/O and hands the bitmap
// back through a pipe. A crash, a limit or a hang of the decoder fails
// that file only. An indexed file gets the palette from its own colour data.
#pragma once

#include <string>

#include "engine/bitmap/image.h"

namespace kestrel {

// The image, or why there is none in words for the user: the file cannot be
// opened or is not a regular file, the header check refused it (its
// PsdHeaderCheck problem), or the decoder failed, crashed, was stopped at its
// memory or time limit, or sent back an image that does not match the header.
ImageResult LoadPsdSandboxed(const std::string& path, int flags);

// The same checks and mending with the decoder in this process, unconfined.
// For the bench that measures what the isolation costs; nothing else uses it.
ImageResult LoadPsdInProcess(const std::string& path, int flags);

// Test hook: when set, the confined child runs this instead of decoding (to
// show what the confinement refuses). Returns the child's exit code.
using SandboxProbe = int (*)(int inputFd);
void SetSandboxProbeForTesting(SandboxProbe probe);

}  // namespace kestrel
