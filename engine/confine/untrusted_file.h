// The pieces every confined decoder shares: opening an untrusted file without
// blocking (a regular file only, never a FIFO or a device), reading it by
// position, mapping it before the child starts, FreeImage's handle I/O over
// the open descriptor, and the words that tell why a confined decoder gave no image.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_reader.h"
#include "platform/files.h"
#include "platform/sandbox.h"

namespace kestrel {

struct UntrustedFile {
  UniqueFd fd;
  std::uint64_t size = 0;
  std::string failure;  // "cannot open: ..." or "not a regular file"; empty when open
};

// Opens path read-only and non-blocking, so that a FIFO cannot stall the open,
// and refuses anything but a regular file.
UntrustedFile OpenUntrustedFile(const std::string& path);

// Reads size bytes at offset; false when they are not all there.
bool ReadAt(int fd, std::uint64_t offset, void* out, std::size_t size);

// The open file `fd` read by position, for the byte reader.
inline ByteSource SourceOfFile(int fd) {
  return [fd](std::uint64_t offset, void* out, std::size_t size) { return ReadAt(fd, offset, out, size); };
}

// A read-only private mapping of a whole file, unmapped with its owner.
class FileMapping {
 public:
  FileMapping() = default;
  FileMapping(int fd, std::uint64_t size);
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&&) = delete;
  ~FileMapping();
  // The file's bytes, or null when it could not be mapped.
  const std::uint8_t* Data() const { return data_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
};

// FreeImage decodes the open file (mapped, or read by position when mapped is
// null) as `format`; no stdio, no lseek, no new descriptor.
FIBITMAP* DecodeFromFd(FREE_IMAGE_FORMAT format, int fd, std::uint64_t size, const std::uint8_t* mapped, int flags);

// Why a confined decoder gave no image, in words for the user.
std::string DescribeDecoderEnd(const SandboxResult& result, const SandboxLimits& limits);

inline constexpr const char* kDecoderUnreadable = "the decoder could not read the image";
inline constexpr const char* kDecoderInconsistent = "the decoder sent back an image that does not match the header";

}  // namespace kestrel
