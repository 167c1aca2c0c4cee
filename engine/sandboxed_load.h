// Loading a Photoshop file without trusting it. The file is opened once (a
// regular file only: never a FIFO or a device), its header is checked, and
// FreeImage decodes it in a confined child process (platform/sandbox.h) that
// reads the open descriptor through FreeImage's handle I/O and hands the bitmap
// back through a pipe. A crash, a limit or a hang of the decoder fails
// that file only. An indexed file gets the palette from its own colour data.
#pragma once

#include <string>

#include "engine/image.h"

namespace kestrel {

// What a load reports besides the image: why it failed (for logs and tests).
struct PsdLoad {
  ImagePtr image;
  std::string failure;  // empty on success
};

PsdLoad LoadPsdSandboxed(const std::string& path, int flags);

// The same checks and mending with the decoder in this process, unconfined.
// For the bench that measures what the isolation costs; nothing else uses it.
PsdLoad LoadPsdInProcess(const std::string& path, int flags);

// Test hook: when set, the confined child runs this instead of decoding (to
// show what the confinement refuses). Returns the child's exit code.
using SandboxProbe = int (*)(int inputFd);
void SetSandboxProbeForTesting(SandboxProbe probe);

}  // namespace kestrel
