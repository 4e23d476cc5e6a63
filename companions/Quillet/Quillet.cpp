// Attribute containers: values in first-set order with an index by id, and the
// serialized block (docs/attribute-block-format.md).
#include "Quillet.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "QuilletBlockWriter.h"

using quillet::GetU16;
using quillet::GetU32;
using quillet::PutU16;
using quillet::PutU32;

// ---- CAttributeException -------------------------------------------------------------

CAttributeException::CAttributeException(const char16_t* message) {
  std::size_t n = 0;
  if (message != nullptr) {
    while (n + 1 < std::size(message_) && message[n] != u'\0') {
      message_[n] = message[n];
      ++n;
    }
  }
  message_[n] = u'\0';
}

// Defined here, out of line, so that the class's type information and table of virtual
// operations live in this library and a catch by type matches in every binary.
CAttributeException::~CAttributeException() = default;

CAttributeException::CAttributeException(const CAttributeException& other) {
  std::memcpy(message_, other.message_, sizeof message_);
}

CAttributeException& CAttributeException::operator=(const CAttributeException& other) {
  if (this != &other) std::memcpy(message_, other.message_, sizeof message_);
  return *this;
}

const char16_t* CAttributeException::GetMessage() const { return message_; }

IAttributeContainer::~IAttributeContainer() = default;

// ---- The container ------------------------------------------------------------------

namespace {

struct Attribute {
  std::uint32_t id = 0;
  std::int32_t number = 0;       // int and long
  std::u16string text;           // text (c_str() is the NUL-terminated form)
  std::vector<std::uint8_t> bytes;  // binary
};

std::uint8_t TypeOf(std::uint32_t id) { return quillet::TypeOf(id); }

// The bytes an attribute's payload takes in a block.
std::uint64_t PayloadSize(const Attribute& a) {
  switch (TypeOf(a.id)) {
    case quillet::kTypeText:
      return std::uint64_t{a.text.size()} * 2;
    case quillet::kTypeBinary:
      return a.bytes.size();
    default:
      return quillet::kNumberPayloadSize;
  }
}

// Largest text whose payload length still fits the block's 32-bit length field.
constexpr std::size_t kMaxTextUnits = 0x7FFFFFFFu;

}  // namespace

struct CAttrContainer::Impl {
  std::uint8_t scope;
  std::vector<Attribute> items;                          // first-set order
  std::unordered_map<std::uint32_t, std::size_t> index;  // id -> position in items

  explicit Impl(std::uint8_t s) : scope(s) {}

  // An id this container may hold: its scope and a known value type.
  bool Holds(std::uint32_t id) const {
    return quillet::ScopeOf(id) == scope && quillet::IsKnownType(TypeOf(id));
  }

  const Attribute* Find(std::uint32_t id) const {
    auto it = index.find(id);
    return it == index.end() ? nullptr : &items[it->second];
  }

  // Replaces in place or appends. Either completes or leaves everything as it was.
  void Store(Attribute&& value) {
    auto it = index.find(value.id);
    if (it != index.end()) {
      items[it->second] = std::move(value);  // moves do not throw
      return;
    }
    const std::uint32_t id = value.id;
    items.push_back(std::move(value));
    try {
      index.emplace(id, items.size() - 1);
    } catch (...) {
      items.pop_back();
      throw;
    }
  }

  bool Remove(std::uint32_t id) {
    auto it = index.find(id);
    if (it == index.end()) return false;
    const std::size_t at = it->second;
    index.erase(it);
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(at));
    for (auto& entry : index)
      if (entry.second > at) --entry.second;
    return true;
  }

  // Builds the attribute and stores it; false (no change) when it cannot be kept.
  template <class Fill>
  bool Put(std::uint32_t id, bool typeFits, Fill&& fill) {
    if (!Holds(id) || !typeFits) return false;
    try {
      Attribute a;
      a.id = id;
      if (!fill(a)) return false;
      Store(std::move(a));
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  bool PutNumber(std::uint32_t id, std::int32_t number) {
    return Put(id, quillet::IsNumberType(TypeOf(id)), [&](Attribute& a) {
      a.number = number;
      return true;
    });
  }

  bool PutText(std::uint32_t id, const char16_t* text, std::size_t length) {
    return Put(id, TypeOf(id) == quillet::kTypeText, [&](Attribute& a) {
      if (length > kMaxTextUnits) return false;
      if (length > 0 && text == nullptr) return false;
      a.text.assign(text == nullptr ? u"" : text, length);
      return a.text.find(u'\0') == std::u16string::npos;
    });
  }

  bool PutBinary(std::uint32_t id, const void* data, std::size_t size) {
    return Put(id, TypeOf(id) == quillet::kTypeBinary, [&](Attribute& a) {
      if (size > 0 && data == nullptr) return false;
      const auto* p = static_cast<const std::uint8_t*>(data);
      if (size > 0) a.bytes.assign(p, p + size);
      return true;
    });
  }
};

namespace {

void FillVariant(const Attribute& a, AttrVariant* out) {
  *out = AttrVariant{};
  out->type = TypeOf(a.id);
  switch (out->type) {
    case quillet::kTypeText:
      out->text = a.text.c_str();
      out->textLength = static_cast<std::uint32_t>(a.text.size());
      break;
    case quillet::kTypeBinary:
      out->bytes = a.bytes.data();
      out->size = static_cast<std::uint32_t>(a.bytes.size());
      break;
    default:
      out->number = a.number;
      break;
  }
}

// One attribute of a block, checked but not yet taken.
struct BlockEntry {
  std::uint32_t id;
  const std::uint8_t* payload;
  std::uint32_t length;
};

// Checks a whole non-empty block; fills `entries` only when every byte is right.
bool ParseBlock(const std::uint8_t* data, std::uint32_t size, std::uint8_t scope,
                std::vector<BlockEntry>& entries) {
  if (size < quillet::kHeaderSize) return false;
  if (std::memcmp(data, quillet::kMagic, sizeof quillet::kMagic) != 0) return false;
  if (GetU16(data + 4) != quillet::kFormatVersion || GetU16(data + 6) != 0) return false;
  const std::uint32_t count = GetU32(data + 8);
  const std::uint64_t total = size;
  std::uint64_t at = quillet::kHeaderSize;
  // Every entry takes at least its 8-byte head: a count that cannot fit is refused
  // before anything is reserved for it.
  if (std::uint64_t{count} * quillet::kEntryHeadSize > total - at) return false;
  entries.clear();
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (total - at < quillet::kEntryHeadSize) return false;
    const std::uint32_t id = GetU32(data + at);
    const std::uint32_t length = GetU32(data + at + 4);
    at += quillet::kEntryHeadSize;
    if (std::uint64_t{length} > total - at) return false;
    if (quillet::ScopeOf(id) != scope) return false;
    const std::uint8_t type = TypeOf(id);
    const std::uint8_t* payload = data + at;
    if (quillet::IsNumberType(type)) {
      if (length != quillet::kNumberPayloadSize) return false;
    } else if (type == quillet::kTypeText) {
      if (length % 2 != 0) return false;
      for (std::uint32_t k = 0; k < length; k += 2)
        if (GetU16(payload + k) == 0) return false;
    } else if (type != quillet::kTypeBinary) {
      return false;
    }
    entries.push_back(BlockEntry{id, payload, length});
    at += length;
  }
  return at == total;  // no trailing bytes
}

Attribute FromBlock(const BlockEntry& e) {
  Attribute a;
  a.id = e.id;
  switch (TypeOf(e.id)) {
    case quillet::kTypeText:
      a.text.resize(e.length / 2);
      for (std::uint32_t k = 0; k < e.length / 2; ++k)
        a.text[k] = static_cast<char16_t>(GetU16(e.payload + 2 * k));
      break;
    case quillet::kTypeBinary:
      a.bytes.assign(e.payload, e.payload + e.length);
      break;
    default:
      a.number = static_cast<std::int32_t>(GetU32(e.payload));
      break;
  }
  return a;
}

}  // namespace

CAttrContainer::CAttrContainer(std::uint8_t scope) : impl_(nullptr) {
  if (scope != quillet::kScopePage && scope != quillet::kScopeDocument) {
    std::u16string message = u"Attribute container scope ";
    for (char digit : std::to_string(scope)) message += static_cast<char16_t>(digit);
    message += u" is neither 1 (page) nor 2 (document)";
    throw CAttributeException(message.c_str());
  }
  impl_ = new Impl(scope);
}

CAttrContainer::~CAttrContainer() { delete impl_; }

std::uint8_t CAttrContainer::Scope() const { return impl_->scope; }

int CAttrContainer::CreateFromBuffer(const void* data, int one, std::uint32_t size) {
  if (one != 1) return 0;
  if (size == 0) return 1;
  if (data == nullptr) return 0;
  try {
    std::vector<BlockEntry> entries;
    if (!ParseBlock(static_cast<const std::uint8_t*>(data), size, impl_->scope, entries)) return 0;
    // Applied to a copy and swapped in, so that a failure half-way changes nothing.
    Impl next = *impl_;
    for (const BlockEntry& e : entries) next.Store(FromBlock(e));
    *impl_ = std::move(next);
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void CAttrContainer::DeleteAttrIfExist(std::uint32_t id) { impl_->Remove(id); }

int CAttrContainer::GetAttr(std::uint32_t id, long* value, std::uint32_t) const {
  const Attribute* a = impl_->Find(id);
  if (a == nullptr) return 0;
  if (value != nullptr && quillet::IsNumberType(TypeOf(id))) *value = a->number;
  return 1;
}

bool CAttrContainer::SetAttr(std::uint32_t id, int value, std::uint32_t) {
  return impl_->PutNumber(id, static_cast<std::int32_t>(value));
}

bool CAttrContainer::SetAttr(std::uint32_t id, long value, std::uint32_t) {
  // Where long is 64 bits, keep the low 32 bits as a 32-bit long would have.
  return impl_->PutNumber(id, static_cast<std::int32_t>(value));
}

bool CAttrContainer::SetAttr(std::uint32_t id, const char16_t* text, std::uint32_t) {
  return impl_->PutText(id, text, text == nullptr ? 0 : std::char_traits<char16_t>::length(text));
}

bool CAttrContainer::SetAttr(std::uint32_t id, const void* data, std::uint32_t size, std::uint32_t) {
  return impl_->PutBinary(id, data, size);
}

bool CAttrContainer::SetAttr(const _SAttrValue* value) {
  return value != nullptr && impl_->PutNumber(value->id, value->value);
}

bool CAttrContainer::Set(std::uint32_t id, const AttrVariant& value, std::uint32_t) {
  switch (value.type) {
    case quillet::kTypeInt:
    case quillet::kTypeLong:
      return impl_->PutNumber(id, value.number);
    case quillet::kTypeText:
      return impl_->PutText(id, value.text, value.textLength);
    case quillet::kTypeBinary:
      return impl_->PutBinary(id, value.bytes, value.size);
    default:
      return false;
  }
}

bool CAttrContainer::SetBinary(std::uint32_t id, IAttrInStream* stream, int size, std::uint32_t) {
  if (stream == nullptr || size < 0) return false;
  return impl_->Put(id, TypeOf(id) == quillet::kTypeBinary, [&](Attribute& a) {
    a.bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < a.bytes.size()) {
      const std::uint32_t n =
          stream->Read(a.bytes.data() + got, static_cast<std::uint32_t>(a.bytes.size() - got));
      if (n == 0 || n > a.bytes.size() - got) return false;  // ended early, or overran
      got += n;
    }
    return true;
  });
}

bool CAttrContainer::Delete(std::uint32_t id) { return impl_->Remove(id); }

bool CAttrContainer::Get(std::uint32_t id, AttrVariant* value, std::uint32_t) {
  const Attribute* a = impl_->Find(id);
  if (a == nullptr) return false;
  if (value != nullptr) FillVariant(*a, value);
  return true;
}

bool CAttrContainer::GetBinary(std::uint32_t id, IAttrOutStream* stream, std::uint32_t) {
  const Attribute* a = impl_->Find(id);
  if (a == nullptr || stream == nullptr || TypeOf(id) != quillet::kTypeBinary) return false;
  if (a->bytes.empty()) return true;
  return stream->Write(a->bytes.data(), static_cast<std::uint32_t>(a->bytes.size()));
}

bool CAttrContainer::IsEmpty() { return impl_->items.empty(); }

bool CAttrContainer::IsIn(std::uint32_t id) { return impl_->Find(id) != nullptr; }

std::uint32_t CAttrContainer::Count() const { return static_cast<std::uint32_t>(impl_->items.size()); }

bool CAttrContainer::GetAt(std::uint32_t index, std::uint32_t* id, AttrVariant* value) const {
  if (index >= impl_->items.size()) return false;
  const Attribute& a = impl_->items[index];
  if (id != nullptr) *id = a.id;
  if (value != nullptr) FillVariant(a, value);
  return true;
}

std::uint32_t CAttrContainer::Serialize(std::uint8_t* buffer, std::uint32_t capacity) const {
  std::uint64_t total = quillet::kHeaderSize;
  for (const Attribute& a : impl_->items) total += quillet::kEntryHeadSize + PayloadSize(a);
  if (total > UINT32_MAX || impl_->items.size() > UINT32_MAX) return 0;
  if (buffer == nullptr || capacity < total) return static_cast<std::uint32_t>(total);

  std::memcpy(buffer, quillet::kMagic, sizeof quillet::kMagic);
  PutU16(buffer + 4, quillet::kFormatVersion);
  PutU16(buffer + 6, 0);
  PutU32(buffer + 8, static_cast<std::uint32_t>(impl_->items.size()));
  std::uint8_t* out = buffer + quillet::kHeaderSize;
  for (const Attribute& a : impl_->items) {
    const auto length = static_cast<std::uint32_t>(PayloadSize(a));
    PutU32(out, a.id);
    PutU32(out + 4, length);
    out += quillet::kEntryHeadSize;
    switch (TypeOf(a.id)) {
      case quillet::kTypeText:
        for (char16_t unit : a.text) {
          PutU16(out, static_cast<std::uint16_t>(unit));
          out += 2;
        }
        break;
      case quillet::kTypeBinary:
        if (length > 0) std::memcpy(out, a.bytes.data(), length);
        out += length;
        break;
      default:
        PutU32(out, static_cast<std::uint32_t>(a.number));
        out += 4;
        break;
    }
  }
  return static_cast<std::uint32_t>(total);
}
