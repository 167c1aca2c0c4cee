// Descriptors 0, 1 and 2 must be open before the program opens anything:
// started with one of them closed, the first file opened would take its
// number, and lines meant for the console would be written into that file.
#pragma once

namespace kestrel {

// Opens /dev/null onto each of descriptors 0-2 that is closed. False when
// that cannot be done (the process should then end).
bool OpenMissingStandardStreams();

}  // namespace kestrel
