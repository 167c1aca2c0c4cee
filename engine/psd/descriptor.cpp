#include "engine/psd/descriptor.h"

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Descriptors nest no deeper than this; layer settings use four or five levels.
constexpr int kMaxDepth = 32;

// The descriptor's own fields over the one byte reader.
class Reader : public ByteReader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : ByteReader(bytes) {}

  // A key or class id: a length, or 0 and four bytes.
  std::string Key() {
    const std::uint32_t length = U32();
    return Text(length == 0 ? 4 : length);
  }
  // A count of UTF-16 units and the units, as UTF-8.
  std::string Unicode() {
    const std::uint64_t count = U32();
    if (!Has(count * 2)) {
      Fail();
      return {};
    }
    return Utf8FromUtf16BigEndian(Bytes(count * 2));
  }
};

bool ReadObject(Reader& in, int depth, DescriptorValue& out);

// The items of a reference ('obj '): read past, as nothing drawn needs them.
void SkipReference(Reader& in) {
  const std::uint64_t count = in.U32();
  for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
    const std::uint32_t form = in.U32();
    if (form == 0x70726f70 /* prop */) {
      in.Unicode(), in.Key(), in.Key();
    } else if (form == 0x436c7373 /* Clss */) {
      in.Unicode(), in.Key();
    } else if (form == 0x456e6d72 /* Enmr */) {
      in.Unicode(), in.Key(), in.Key(), in.Key();
    } else if (form == 0x72656c65 /* rele */) {
      in.Unicode(), in.Key(), in.U32();
    } else if (form == 0x49646e74 /* Idnt */ || form == 0x696e6478 /* indx */) {
      in.U32();
    } else if (form == 0x6e616d65 /* name */) {
      in.Unicode(), in.Key(), in.Unicode();
    } else {
      in.Fail();
    }
  }
}

// One value of type `type`.
bool ReadValue(Reader& in, std::uint32_t type, int depth, DescriptorValue& out) {
  if (depth > kMaxDepth) return false;
  switch (type) {
    case 0x4f626a63:  // Objc
    case 0x476c624f:  // GlbO
      return ReadObject(in, depth + 1, out);
    case 0x566c4c73: {  // VlLs
      out.type = DescriptorValue::Type::List;
      const std::uint64_t count = in.U32();
      // Every value takes at least its four-byte type.
      if (count > in.Left() / 4) return false;
      out.list.resize(static_cast<std::size_t>(count));
      for (DescriptorValue& value : out.list) {
        if (!ReadValue(in, in.U32(), depth + 1, value)) return false;
      }
      return in.Ok();
    }
    case 0x646f7562:  // doub
      out.type = DescriptorValue::Type::Number;
      out.number = in.Double();
      return in.Ok();
    case 0x556e7446:  // UntF
      out.type = DescriptorValue::Type::Number;
      out.unit = in.U32();
      out.number = in.Double();
      return in.Ok();
    case 0x556e466c: {  // UnFl: a unit and a list of doubles; the first is kept
      out.type = DescriptorValue::Type::Number;
      out.unit = in.U32();
      const std::uint64_t count = in.U32();
      if (count > in.Left() / 8) return false;
      for (std::uint64_t i = 0; i < count; ++i) {
        const double value = in.Double();
        if (i == 0) out.number = value;
      }
      return in.Ok();
    }
    case 0x6c6f6e67:  // long
      out.type = DescriptorValue::Type::Integer;
      out.integer = static_cast<std::int32_t>(in.U32());
      return in.Ok();
    case 0x636f6d70:  // comp
      out.type = DescriptorValue::Type::Integer;
      out.integer = static_cast<std::int64_t>(in.Big(8));
      return in.Ok();
    case 0x626f6f6c:  // bool
      out.type = DescriptorValue::Type::Boolean;
      out.boolean = in.Big(1) != 0;
      return in.Ok();
    case 0x656e756d:  // enum: the enumeration's type, then its value
      out.type = DescriptorValue::Type::Enum;
      in.Key();
      out.text = in.Key();
      return in.Ok();
    case 0x54455854:  // TEXT
      out.type = DescriptorValue::Type::Text;
      out.text = in.Unicode();
      return in.Ok();
    case 0x74797065:  // type
    case 0x476c6243:  // GlbC
      in.Unicode();
      out.text = in.Key();
      return in.Ok();
    case 0x6f626a20:  // obj
      SkipReference(in);
      return in.Ok();
    case 0x616c6973:  // alis
    case 0x74647461:  // tdta
    case 0x50746820:  // Pth
      in.Skip(in.U32());
      return in.Ok();
    default:
      return false;  // an unknown type has no length to skip by
  }
}

bool ReadObject(Reader& in, int depth, DescriptorValue& out) {
  if (depth > kMaxDepth) return false;
  out.type = DescriptorValue::Type::Object;
  in.Unicode();  // the class's display name
  out.text = in.Key();
  const std::uint64_t count = in.U32();
  // Every item takes at least a key (8 bytes) and a type (4).
  if (!in.Ok() || count > in.Left() / 12) return false;
  out.items.resize(static_cast<std::size_t>(count));
  for (DescriptorItem& item : out.items) {
    item.key = in.Key();
    if (!ReadValue(in, in.U32(), depth, item.value)) return false;
  }
  return in.Ok();
}

}  // namespace

const DescriptorValue* DescriptorValue::Find(std::string_view key) const {
  for (const DescriptorItem& item : items) {
    if (item.key == key) return &item.value;
  }
  return nullptr;
}

double DescriptorValue::NumberOr(std::string_view key, double fallback) const {
  const DescriptorValue* value = Find(key);
  if (value == nullptr) return fallback;
  if (value->type == Type::Number) return value->number;
  if (value->type == Type::Integer) return static_cast<double>(value->integer);
  return fallback;
}

bool DescriptorValue::BooleanOr(std::string_view key, bool fallback) const {
  const DescriptorValue* value = Find(key);
  return value != nullptr && value->type == Type::Boolean ? value->boolean : fallback;
}

std::string_view DescriptorValue::EnumOf(std::string_view key) const {
  const DescriptorValue* value = Find(key);
  return value != nullptr && value->type == Type::Enum ? std::string_view(value->text) : std::string_view();
}

std::optional<DescriptorValue> ReadDescriptor(std::span<const std::uint8_t> bytes) {
  Reader in(bytes);
  DescriptorValue out;
  if (!ReadObject(in, 0, out)) return std::nullopt;
  return out;
}

std::optional<DescriptorValue> ReadVersionedDescriptor(std::span<const std::uint8_t> block, std::size_t skip) {
  if (block.size() < skip + 4) return std::nullopt;
  const std::uint8_t* v = block.data() + skip;
  if ((std::uint32_t{v[0]} << 24 | std::uint32_t{v[1]} << 16 | std::uint32_t{v[2]} << 8 | v[3]) != 16) {
    return std::nullopt;
  }
  return ReadDescriptor(block.subspan(skip + 4));
}

}  // namespace kestrel
