// Writing output files. A file counts as written only when all of it reached
// its final name; a failed save leaves any earlier file of that name untouched.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/outcome.h"

namespace kestrel {

// BMP output whose file would exceed the format's 32-bit sizes is refused
// before anything is written. Each save fails with its reason: "cannot write <path>: <what the system
// said>" when the file cannot be made or written, or that the image cannot be
// encoded in the format.
Outcome SaveImage(FIBITMAP* image, int formatId, const std::string& path, int flags);

// Completes a save whose commit was put off (DeferCommits): the same failure a
// save would have had. The folder's flush is left to the caller.
Outcome CompleteDeferredSave(AtomicFile& file, const std::string& path);
// The same for many saves at once, their data flushed to the disk together
// before any of them takes its name (AtomicFile::CommitTogether); an
// outcome for each file, in order. `paths` name the files for the messages.
std::vector<Outcome> CompleteDeferredSaves(const std::vector<AtomicFile*>& files, const std::vector<std::string>& paths,
                                           const AtomicFile::GroupFlush& flush = FlushTogether);

// The size of an uncompressed BMP file as the encoder lays it out: file and
// info headers, the colour masks of a 16-bit file, the colour table, rows
// padded to 4 bytes.
std::uint64_t UncompressedBmpSize(unsigned width, unsigned height, unsigned bpp, std::uint64_t paletteEntries);

// Refuses an output path that names the input file itself (the same file on
// the same device, through any name or link): writing it would destroy the input.
Outcome RefuseInputAsOutput(const std::string& inputPath, const std::string& outputPath);

// How a BMP is laid out beyond what FreeImage's encoder writes: the 124-byte
// V5 header (with an alpha mask at 32 bits, see output/bmp_v5_header.h)
// instead of the 40-byte one, and for 8 bits the colour table cut to the
// entries in use.
struct BmpLayout {
  bool v5Header = false;
  bool exactColourTable = false;
};

// A BMP laid out as `layout` says from the encoder's own encoding of the
// image (same pixels, same run lengths); `flags` are the BMP save flags.
Outcome WriteRelaidBmp(FIBITMAP* image, const std::string& path, int flags, BmpLayout layout);

// An 8-bit BMP whose colour table holds only the entries up to the largest
// index in use. `flags` are the BMP save flags (RLE8 or not).
Outcome WriteBmpExactColourTable(FIBITMAP* image, const std::string& path, int flags, BmpLayout layout = {});

// The largest palette index used by any pixel of an 8-bit image, plus one.
int CountUsedPaletteEntries(FIBITMAP* image);

}  // namespace kestrel
