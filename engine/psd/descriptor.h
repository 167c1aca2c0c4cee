// The action descriptors that layer blocks keep their settings in (fill
// layers, layer styles): a class, then keyed items whose values are numbers,
// booleans, enumerations, texts, lists or nested descriptors. Pure code over
// bytes: every count and length is checked against the bytes left, values
// are made only as they are read (never from a count), and both the values
// of one descriptor and their nesting are bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_reader.h"

namespace kestrel {

struct DescriptorItem;

struct DescriptorValue {
  enum class Type { Object, List, Number, Integer, Boolean, Enum, Text, Other };
  Type type = Type::Other;
  double number = 0;         // Number: doubles and unit floats
  FourCC unit;               // the unit of a unit float ("#Ang", "#Prc", "#Pxl"...), none for a plain double
  std::int64_t integer = 0;  // Integer
  bool boolean = false;      // Boolean
  std::string text;          // Enum: the value's key; Text: UTF-8; Object: the class key; raw data: its bytes
  std::vector<DescriptorItem> items;  // Object
  std::vector<DescriptorValue> list;  // List

  // The item `key` of an object, or null.
  const DescriptorValue* Find(std::string_view key) const;
  // A number item (an integer counts too), or `fallback`.
  double NumberOr(std::string_view key, double fallback) const;
  bool BooleanOr(std::string_view key, bool fallback) const;
  // An enumerated item's value key, or empty.
  std::string_view EnumOf(std::string_view key) const;
};

struct DescriptorItem {
  std::string key;
  DescriptorValue value;
};

// Reads the descriptor at the start of `bytes` (after its version word).
// Empty when it is damaged or nests deeper than the reader goes.
std::optional<DescriptorValue> ReadDescriptor(std::span<const std::uint8_t> bytes);

// A versioned descriptor as layer blocks hold it: `skip` bytes of the block's
// own header, a descriptor version of 16, then the descriptor.
std::optional<DescriptorValue> ReadVersionedDescriptor(std::span<const std::uint8_t> block, std::size_t skip);

}  // namespace kestrel
