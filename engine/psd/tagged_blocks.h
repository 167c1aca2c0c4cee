// Tagged blocks: the "additional information" a layer record and the layer
// section both keep after their fixed fields. Each is a signature ("8BIM" or
// "8B64"), a four-character key, a length and the data. In a large document
// (PSB) some keys carry an 8-byte length; the list of them lives here alone,
// so every walk over blocks reads the same lengths.
#pragma once

#include <functional>

#include "platform/byte_reader.h"

namespace kestrel {

// Whether `key`'s length field is 8 bytes wide in a PSB file.
bool HasWideLength(FourCC key);

// Calls `visit` with the key and a reader over the data of each block of
// `blocks`, in order, for a file of `version` (1 PSD, 2 PSB). Stops at the
// first bytes that are not a tagged block, at a block that runs past the
// end, or when `visit` returns false. Photoshop pads blocks to four bytes
// and other writers do not, so the walk skips padding only where the next
// block's signature stands after it.
void ForEachTaggedBlock(ByteReader blocks, int version, const std::function<bool(FourCC key, ByteReader data)>& visit);

}  // namespace kestrel
