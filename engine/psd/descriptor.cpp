#include "engine/psd/descriptor.h"

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace kestrel {
namespace {

// Descriptors nest no deeper than this; layer settings use four or five levels.
constexpr int kMaxDepth = 16;
// Values one descriptor may hold in all: layer settings hold a few hundred,
// and this many cost a few megabytes however the file's counts lie.
constexpr std::uint32_t kMaxValues = 1u << 16;

// The descriptor's own fields over the one byte reader.
class Reader : public ByteReader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : ByteReader(bytes) {}

  // Counts one more value read; false once the descriptor holds too many.
  bool TakeValue() { return ++values_ <= kMaxValues; }

  // A key or class id: a length, or 0 and four bytes.
  std::string Key() {
    const std::uint32_t length = U32();
    const std::span<const std::uint8_t> key = Bytes(length == 0 ? 4 : length);
    return std::string(key.begin(), key.end());
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

 private:
  std::uint32_t values_ = 0;
};

bool ReadObject(Reader& in, int depth, DescriptorValue& out);

// The items of a reference ('obj '): read past, as nothing drawn needs them.
void SkipReference(Reader& in) {
  const std::uint64_t count = in.U32();
  for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
    const FourCC form = in.Code();
    if (form == FourCC("prop")) {
      in.Unicode(), in.Key(), in.Key();
    } else if (form == FourCC("Clss")) {
      in.Unicode(), in.Key();
    } else if (form == FourCC("Enmr")) {
      in.Unicode(), in.Key(), in.Key(), in.Key();
    } else if (form == FourCC("rele")) {
      in.Unicode(), in.Key(), in.U32();
    } else if (form == FourCC("Idnt") || form == FourCC("indx")) {
      in.U32();
    } else if (form == FourCC("name")) {
      in.Unicode(), in.Key(), in.Unicode();
    } else {
      in.Fail();
    }
  }
}

// One value of type `type`.
bool ReadValue(Reader& in, FourCC type, int depth, DescriptorValue& out) {
  if (depth > kMaxDepth || !in.TakeValue()) return false;
  switch (type.value) {
    case FourCC("Objc").value:
    case FourCC("GlbO").value:
      return ReadObject(in, depth + 1, out);
    case FourCC("VlLs").value: {
      out.type = DescriptorValue::Type::List;
      const std::uint64_t count = in.U32();
      // Every value takes at least its four-byte type. Values are made as
      // they are read, never from the count, which a file may inflate.
      if (count > in.Left() / 4) return false;
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!ReadValue(in, in.Code(), depth + 1, out.list.emplace_back())) return false;
      }
      return in.Ok();
    }
    case FourCC("doub").value:
      out.type = DescriptorValue::Type::Number;
      out.number = in.Double();
      return in.Ok();
    case FourCC("UntF").value:
      out.type = DescriptorValue::Type::Number;
      out.unit = in.Code();
      out.number = in.Double();
      return in.Ok();
    case FourCC("UnFl").value: {  // a unit and a list of doubles; the first is kept
      out.type = DescriptorValue::Type::Number;
      out.unit = in.Code();
      const std::uint64_t count = in.U32();
      if (count > in.Left() / 8) return false;
      for (std::uint64_t i = 0; i < count; ++i) {
        const double value = in.Double();
        if (i == 0) out.number = value;
      }
      return in.Ok();
    }
    case FourCC("long").value:
      out.type = DescriptorValue::Type::Integer;
      out.integer = static_cast<std::int32_t>(in.U32());
      return in.Ok();
    case FourCC("comp").value:
      out.type = DescriptorValue::Type::Integer;
      out.integer = static_cast<std::int64_t>(in.Big(8));
      return in.Ok();
    case FourCC("bool").value:
      out.type = DescriptorValue::Type::Boolean;
      out.boolean = in.Big(1) != 0;
      return in.Ok();
    case FourCC("enum").value:  // the enumeration's type, then its value
      out.type = DescriptorValue::Type::Enum;
      in.Key();
      out.text = in.Key();
      return in.Ok();
    case FourCC("TEXT").value:
      out.type = DescriptorValue::Type::Text;
      out.text = in.Unicode();
      return in.Ok();
    case FourCC("type").value:
    case FourCC("GlbC").value:
      in.Unicode();
      out.text = in.Key();
      return in.Ok();
    case FourCC("obj ").value:
      SkipReference(in);
      return in.Ok();
    case FourCC("tdta").value: {
      const std::span<const std::uint8_t> raw = in.Bytes(in.U32());
      out.text.assign(raw.begin(), raw.end());
      return in.Ok();
    }
    case FourCC("alis").value:
    case FourCC("Pth ").value:
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
  for (std::uint64_t i = 0; i < count; ++i) {
    DescriptorItem& item = out.items.emplace_back();
    item.key = in.Key();
    if (!ReadValue(in, in.Code(), depth, item.value)) return false;
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
