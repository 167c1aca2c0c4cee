// Writing output files. A file counts as written only when all of it reached
// its final name; a failed save leaves any earlier file of that name untouched.
#pragma once

#include <FreeImage.h>

#include <string>

namespace kestrel {

bool SaveImage(FIBITMAP* image, int formatId, const std::string& path, int flags);

// An 8-bit BMP whose colour table holds only the entries up to the largest
// index in use. `flags` are the BMP save flags (RLE8 or not).
bool WriteBmpExactColourTable(FIBITMAP* image, const std::string& path, int flags);

// The largest palette index used by any pixel of an 8-bit image, plus one.
int CountUsedPaletteEntries(FIBITMAP* image);

}  // namespace kestrel
