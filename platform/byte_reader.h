// Fields read from untrusted bytes, every one checked against the end of the
// range it is read from. A read past the end fails the reader: it gives zeros
// from then on and Ok() turns false, so a parser reads a group of fields and
// checks once. The bytes are in memory (a mapped file in the decoder) or are
// read by position from a descriptor (the parent, which never maps a file
// before it is checked). Every file parser reads through this one class.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>

namespace kestrel {

// Reads size bytes at offset into out; false when they are not all there.
using ByteSource = std::function<bool(std::uint64_t offset, void* out, std::size_t size)>;

// A four-character code as files store it ("8BIM", "norm", "lfx2"): four
// bytes, compared as one big-endian number.
struct FourCC {
  std::uint32_t value = 0;
  constexpr FourCC() = default;
  constexpr explicit FourCC(std::uint32_t v) : value(v) {}
  constexpr FourCC(const char (&text)[5])  // NOLINT: a literal code reads best as itself
      : value(std::uint32_t(std::uint8_t(text[0])) << 24 | std::uint32_t(std::uint8_t(text[1])) << 16 |
              std::uint32_t(std::uint8_t(text[2])) << 8 | std::uint32_t(std::uint8_t(text[3]))) {}
  friend constexpr bool operator==(FourCC, FourCC) = default;
  explicit constexpr operator bool() const { return value != 0; }
};

class ByteReader {
 public:
  ByteReader() : ok_(false) {}
  // Bytes in memory, from their start.
  explicit ByteReader(std::span<const std::uint8_t> bytes) : ByteReader(bytes, 0, bytes.size()) {}
  // [at, end) of bytes in memory.
  ByteReader(std::span<const std::uint8_t> bytes, std::uint64_t at, std::uint64_t end)
      : bytes_(bytes), at_(at), end_(end <= bytes.size() ? end : bytes.size()), ok_(at <= end_) {}
  // [at, end) of a file of `size` bytes read by position; `source` must outlive the reader.
  ByteReader(const ByteSource& source, std::uint64_t size, std::uint64_t at = 0)
      : source_(&source), at_(at), end_(size), ok_(at <= size) {}

  bool Ok() const { return ok_; }
  std::uint64_t At() const { return at_; }
  std::uint64_t End() const { return end_; }
  std::uint64_t Left() const { return ok_ ? end_ - at_ : 0; }
  bool Has(std::uint64_t bytes) const { return ok_ && bytes <= end_ - at_; }

  // An unsigned field of 1 to 8 bytes, big- or little-endian.
  std::uint64_t Big(int bytes) { return Field(bytes, true); }
  std::uint64_t Little(int bytes) { return Field(bytes, false); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Big(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Big(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Big(4)); }
  std::int16_t Int16() { return static_cast<std::int16_t>(U16()); }
  std::int32_t Int32() { return static_cast<std::int32_t>(U32()); }
  FourCC Code() { return FourCC(U32()); }
  // A big-endian IEEE double; 0 for infinities and NaNs.
  double Double() {
    const double value = std::bit_cast<double>(Big(8));
    return std::isfinite(value) ? value : 0.0;
  }

  // Copies the next `size` bytes; false (and the reader failed) when they are not there.
  bool Copy(void* out, std::size_t size) {
    if (!Has(size)) return Fail();
    if (size > 0) {
      if (source_ != nullptr) {
        if (!(*source_)(at_, out, size)) return Fail();
      } else {
        std::memcpy(out, bytes_.data() + at_, size);
      }
    }
    at_ += size;
    return true;
  }
  // The next `size` bytes in memory; empty (and the reader failed) when they
  // are not all there or the reader reads by position.
  std::span<const std::uint8_t> Bytes(std::uint64_t size) {
    if (source_ != nullptr || !Has(size)) {
      Fail();
      return {};
    }
    const auto part = bytes_.subspan(static_cast<std::size_t>(at_), static_cast<std::size_t>(size));
    at_ += size;
    return part;
  }
  void Skip(std::uint64_t bytes) {
    if (Has(bytes)) at_ += bytes;
    else Fail();
  }
  // Moves to `at`, which may not lie behind the reader or past its end.
  void MoveTo(std::uint64_t at) {
    if (ok_ && at >= at_ && at <= end_) at_ = at;
    else Fail();
  }
  // A reader over the next `bytes`, which this one then skips; failed when
  // they are not all there (and this one fails too).
  ByteReader Take(std::uint64_t bytes) {
    ByteReader inner = *this;
    if (Has(bytes)) inner.end_ = at_ + bytes;
    else inner.ok_ = false;
    Skip(bytes);
    return inner;
  }
  // A reader over [at, end) of the same bytes, whatever this one's position.
  ByteReader Range(std::uint64_t at, std::uint64_t length) const {
    ByteReader inner = *this;
    inner.at_ = at;
    inner.ok_ = at <= end_ && length <= end_ - at;
    inner.end_ = inner.ok_ ? at + length : at;
    return inner;
  }
  bool Fail() {
    ok_ = false;
    return false;
  }

 private:
  std::uint64_t Field(int bytes, bool bigEndian) {
    std::uint8_t field[8];
    if (bytes < 1 || bytes > 8 || !Copy(field, static_cast<std::size_t>(bytes))) return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | field[bigEndian ? i : bytes - 1 - i];
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  const ByteSource* source_ = nullptr;
  std::uint64_t at_ = 0;
  std::uint64_t end_ = 0;
  bool ok_ = true;
};

// A byte source over bytes in memory.
inline ByteSource SourceOf(std::span<const std::uint8_t> bytes) {
  return [bytes](std::uint64_t offset, void* out, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    if (size > 0) std::memcpy(out, bytes.data() + offset, size);
    return true;
  };
}

}  // namespace kestrel
