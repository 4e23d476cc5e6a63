#include "attrs/DocAttrsImportV1.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "attrs/AttributeIds.h"
#include "attrs/ScanStamp.h"
#include "base/Trace.h"
#include "platform/Platform.h"

namespace es {

namespace {

using attrbytes::I16;
using attrbytes::I32;
using attrbytes::U16;
using attrbytes::U32;

constexpr std::size_t kHeadSize = 16;        // header, document list, counts
constexpr std::size_t kPageEntrySize = 8;    // list offset, record count, 2 spare bytes
constexpr std::size_t kRecordHeadSize = 5;   // type, total length, kind

// Kinds of record payload.
constexpr std::uint8_t kKindRaw = 0;
constexpr std::uint8_t kKindAnsi = 1;
constexpr std::uint8_t kKindUtf16 = 2;

// Document record types.
constexpr std::int16_t kDocPileIndex = 0;
constexpr std::int16_t kDocBarcode = 1;
constexpr std::int16_t kDocText2 = 2;
constexpr std::int16_t kDocValue = 3;

// Page record types.
constexpr std::int16_t kPageValue = 0x100;
constexpr std::int16_t kPageWidth = 0x101;
constexpr std::int16_t kPageHeight = 0x102;
constexpr std::int16_t kPageResX = 0x103;
constexpr std::int16_t kPageResY = 0x104;
constexpr std::int16_t kPageSource = 0x107;
constexpr std::int16_t kPageRecordType108 = 0x108;
constexpr std::int16_t kPageRecordType109 = 0x109;
constexpr std::int16_t kPageRecordType10A = 0x10A;
constexpr std::int16_t kPageRecordType10B = 0x10B;
constexpr std::int16_t kPageRecordType10C = 0x10C;
constexpr std::int16_t kPageRecordType10D = 0x10D;
constexpr std::int16_t kPageTime = 0x10E;
constexpr std::int16_t kPageUser = 0x10F;
constexpr std::int16_t kPageComputer = 0x110;

// Text capacities in UTF-16 units, the terminator included.
constexpr std::size_t kPileIndexCapacity = 64;
constexpr std::size_t kDocTextCapacity = 256;
constexpr std::size_t kSourceCapacity = 64;
constexpr std::size_t kUserCapacity = 100;
constexpr std::size_t kComputerCapacity = 15;

// Defaults of the page fields a file leaves out.
constexpr std::int32_t kDefaultSize = -1;
constexpr std::int32_t kDefaultResolution = 300;
constexpr std::int32_t kDefault10AWhen108 = 50;

struct PageFields {
  std::optional<std::uint32_t> value;
  std::optional<std::int32_t> width, height, resX, resY;
  std::optional<std::int32_t> record108, record109, record10A, record10B, record10C, record10D;
  std::optional<std::int64_t> time;
  std::optional<Str> source, user, computer;
};

}  // namespace

namespace {

// A raw field is taken only when the record is raw and exactly the field's size.
template <typename Record>
bool FitsRaw(const Record& r, std::size_t n) {
  return r.kind == kKindRaw && r.size == n;
}

template <typename Record>
std::optional<std::int32_t> Raw4(const Record& r) {
  if (!FitsRaw(r, 4)) return std::nullopt;
  return I32(r.payload);
}

// UTF-16 payloads are copied as they stand, at most capacity - 1 units; the text runs to
// its first NUL unit. An odd last byte is the low byte of a unit.
template <typename Record>
std::optional<Str> Text(const Record& r, std::size_t capacity) {
  if (r.kind == kKindUtf16) {
    const std::size_t bytes = std::min(r.size, 2 * capacity - 2);
    Str text;
    for (std::size_t i = 0; i < bytes; i += 2) {
      const std::uint8_t high = i + 1 < bytes ? r.payload[i + 1] : 0;
      const auto unit = static_cast<char16_t>(r.payload[i] | (high << 8));
      if (unit == 0) break;
      text.push_back(unit);
    }
    return text;
  }
  if (r.kind == kKindAnsi) {
    // ANSI text in the thread's code page, to its first NUL byte or the payload's end.
    const auto* begin = reinterpret_cast<const char*>(r.payload);
    const auto* nul = static_cast<const char*>(std::memchr(begin, 0, r.size));
    const std::size_t length = nul != nullptr ? static_cast<std::size_t>(nul - begin) : r.size;
    Str text = platform::Os().AnsiToUtf16(begin, length);
    if (text.size() > capacity - 1) text.resize(capacity - 1);
    return text;
  }
  return std::nullopt;
}

template <typename T>
void Take(std::optional<T>& field, std::optional<T> value) {
  // A record that does not fit leaves whatever an earlier record of its type gave.
  if (value) field = std::move(value);
}

}  // namespace

bool CDocAttrsImportV1::LoadBytes(std::vector<std::uint8_t> bytes, const Str& name) {
  // The head holds the document list and both counts; a file without it has nothing.
  return Keep(std::move(bytes), name, kHeadSize, u"head");
}

void CDocAttrsImportV1::GetHeader(AttrFileHeader* header) const {
  if (buffer_.size() < kHeadSize) return;
  ReadFirstFields(header);
}

template <typename Visit>
bool CDocAttrsImportV1::WalkList(std::uint64_t offset, std::int32_t count, Visit&& take) const {
  std::uint64_t at = offset;
  // A negative count is an empty list.
  for (std::int32_t i = 0; i < count; ++i) {
    // Lengths and offsets come from the file: a record must lie whole inside it, and be
    // at least its own head long, or the list ends there.
    if (at + kRecordHeadSize > buffer_.size()) return false;
    const std::uint8_t* head = buffer_.data() + at;
    const std::int16_t length = I16(head + 2);
    if (length < static_cast<std::int16_t>(kRecordHeadSize) || at + static_cast<std::uint64_t>(length) > buffer_.size())
      return false;
    take(Record{I16(head), head[4], head + kRecordHeadSize, static_cast<std::size_t>(length) - kRecordHeadSize});
    at += static_cast<std::uint64_t>(length);
  }
  return true;
}

bool CDocAttrsImportV1::ReadDocumentAttributes(DocAttrsV1* record) {
  if (buffer_.size() < kHeadSize) return false;
  std::optional<Str> text0, text1, text2;
  std::optional<std::int32_t> value;
  const bool whole = WalkList(U32(buffer_.data() + 8), I16(buffer_.data() + 12), [&](const Record& r) {
    switch (r.type) {
      case kDocPileIndex: Take(text0, Text(r, kPileIndexCapacity)); break;
      case kDocBarcode: Take(text1, Text(r, kDocTextCapacity)); break;
      case kDocText2: Take(text2, Text(r, kDocTextCapacity)); break;
      case kDocValue: Take(value, Raw4(r)); break;
      default: break;  // not a document field
    }
  });
  if (!whole) {
    // The fields read so far stand; the document still has its pages.
    Trace(kSevError, kSourceAttributes, __LINE__,
          u"Attribute file '%s': the document's record list runs past the end of the file.", name_.c_str());
  }
  *record = DocAttrsV1{};
  record->text0 = text0.value_or(Str());
  record->text1 = text1.value_or(Str());
  record->text2 = text2.value_or(Str());
  record->value = static_cast<std::uint32_t>(value.value_or(0));
  record->pageCount = I16(buffer_.data() + 14);
  return true;
}

bool CDocAttrsImportV1::ReadPageAttributes(std::int32_t index, CAttrContainer* page, std::uint32_t* pageValue) {
  if (buffer_.size() < kHeadSize) return false;
  const std::int32_t pages = I16(buffer_.data() + 14);
  if (index < 0 || index >= pages) return false;
  // The page count is the file's word: a page whose table entry it does not hold is unreadable.
  const std::uint64_t entry = kHeadSize + std::uint64_t{kPageEntrySize} * static_cast<std::uint64_t>(index);
  if (entry + kPageEntrySize > buffer_.size()) {
    Trace(kSevError, kSourceAttributes, __LINE__,
          u"Attribute file '%s': the page table entry of page %d lies past the end of the file.", name_.c_str(),
          static_cast<int>(index));
    return false;
  }

  PageFields f;
  const std::uint8_t* slot = buffer_.data() + entry;
  const bool whole = WalkList(U32(slot), I16(slot + 4), [&](const Record& r) {
    switch (r.type) {
      case kPageValue: Take(f.value, FitsRaw(r, 4) ? std::optional<std::uint32_t>(U32(r.payload)) : std::nullopt); break;
      case kPageWidth: Take(f.width, Raw4(r)); break;
      case kPageHeight: Take(f.height, Raw4(r)); break;
      case kPageResX: Take(f.resX, Raw4(r)); break;
      case kPageResY: Take(f.resY, Raw4(r)); break;
      case kPageSource: Take(f.source, Text(r, kSourceCapacity)); break;
      case kPageRecordType108: Take(f.record108, Raw4(r)); break;
      case kPageRecordType109: Take(f.record109, Raw4(r)); break;
      case kPageRecordType10A: Take(f.record10A, Raw4(r)); break;
      case kPageRecordType10B: Take(f.record10B, Raw4(r)); break;
      case kPageRecordType10C: Take(f.record10C, Raw4(r)); break;
      case kPageRecordType10D: Take(f.record10D, Raw4(r)); break;
      case kPageTime:
        Take(f.time, FitsRaw(r, 8) ? std::optional<std::int64_t>(static_cast<std::int64_t>(
                                         std::uint64_t{U32(r.payload)} | (std::uint64_t{U32(r.payload + 4)} << 32)))
                                   : std::nullopt);
        break;
      case kPageUser: Take(f.user, Text(r, kUserCapacity)); break;
      case kPageComputer: Take(f.computer, Text(r, kComputerCapacity)); break;
      default: break;  // 0x105, 0x106 and unknown types are not passed on
    }
  });
  if (!whole) {
    // The fields read so far stand; the rest take their defaults.
    Trace(kSevError, kSourceAttributes, __LINE__,
          u"Attribute file '%s': the record list of page %d runs past the end of the file.", name_.c_str(),
          static_cast<int>(index));
  }

  // Defaults in table order: the 0x10A default depends on the final 0x108 value.
  const std::uint32_t value = f.value.value_or(0);
  const std::int32_t width = f.width.value_or(kDefaultSize);
  const std::int32_t height = f.height.value_or(kDefaultSize);
  const std::int32_t resX = f.resX.value_or(kDefaultResolution);
  const std::int32_t resY = f.resY.value_or(kDefaultResolution);
  const Str source = f.source.value_or(Str());
  const std::int32_t record108 = f.record108.value_or(0);
  const std::int32_t record109 = f.record109.value_or(0);
  const std::int32_t record10A = f.record10A.value_or(record108 != 0 ? kDefault10AWhen108 : 0);
  const std::int32_t record10B = f.record10B.value_or(0);
  const std::int32_t record10C = f.record10C.value_or(0);
  const std::int32_t record10D = f.record10D.value_or(0);

  try {
    const std::int64_t time = f.time ? *f.time : platform::Os().UnixTime();
    const attrs::ScanStamp stamp = attrs::BuildScanStamp(time, f.user.value_or(Str()), f.computer.value_or(Str()));
    // Bytes 0-3 carry 1, as the element defaults give every page; the version-1 layout has
    // no record for them. Bytes 4-12 are zero, the rest padding.
    std::array<std::uint8_t, attrs::kValueBlockSize> attr12{};
    attr12[0] = 1;

    page->SetAttr(attrs::kPageWidth, static_cast<long>(width), 0);
    page->SetAttr(attrs::kPageHeight, static_cast<long>(height), 0);
    page->SetAttr(attrs::kPageResolutionX, static_cast<long>(resX), 0);
    page->SetAttr(attrs::kPageResolutionY, static_cast<long>(resY), 0);
    page->SetAttr(attrs::kPageValueBlock, attr12.data(), static_cast<std::uint32_t>(attr12.size()), 0);
    page->SetAttr(attrs::kPageRecord108, static_cast<int>(record108), 0);
    page->SetAttr(attrs::kPageRecord10A, static_cast<long>(record10A), 0);
    page->SetAttr(attrs::kPageSourceName, source.c_str(), 0);
    page->SetAttr(attrs::kPageRecord109, static_cast<long>(record109), 0);
    page->SetAttr(attrs::kPageRecord10B, static_cast<long>(record10B), 0);
    page->SetAttr(attrs::kPageRecord10C, static_cast<long>(record10C), 0);
    page->SetAttr(attrs::kPageRecord10D, static_cast<long>(record10D), 0);
    page->SetAttr(attrs::kPageScanStamp, stamp.data(), static_cast<std::uint32_t>(stamp.size()), 0);
    page->SetAttr(attrs::kPageBitDepth, 1L, 0);
    page->SetAttr(attrs::kPageAlwaysOne, 1L, 0);
    page->SetAttr(attrs::kPageAlwaysZero, 0L, 0);
    page->SetAttr(attrs::kPageFirstOfDocument, 0, 0);
    const _SAttrValue allowRescan{attrs::kPageAllowRescan, 1};
    page->SetAttr(&allowRescan);
  } catch (const std::bad_alloc&) {
    return false;
  }
  *pageValue = value;
  return true;
}

}  // namespace es
