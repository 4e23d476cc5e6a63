// The two layouts of "SC_ATTR.BIN", written byte by byte in little-endian order.
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "producer/Producer.h"

namespace esproduce {
namespace {

void PutU16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU64(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void SetU32(Bytes& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

std::uint32_t Size32(std::size_t size, const char* what) {
  if (size > std::numeric_limits<std::uint32_t>::max())
    throw std::length_error(std::string(what) + " does not fit a 32-bit size");
  return static_cast<std::uint32_t>(size);
}
std::int16_t Count16(std::size_t count, const char* what) {
  if (count > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
    throw std::length_error(std::string(what) + " does not fit a 16-bit count");
  return static_cast<std::int16_t>(count);
}

void PutRecord(Bytes& out, const RecordV1& record) {
  const std::size_t total = v1::kRecordHeadSize + record.payload.size();
  std::int16_t length = 0;
  if (record.lengthOverride) {
    length = *record.lengthOverride;
  } else {
    length = Count16(total, "record length");
  }
  PutU16(out, static_cast<std::uint16_t>(record.type));
  PutU16(out, static_cast<std::uint16_t>(length));
  out.push_back(static_cast<std::uint8_t>(record.kind));
  Append(out, record.payload);
}

}  // namespace

Bytes Serialize(const AttrFileV2& file) {
  Bytes out;
  PutU16(out, file.field0);
  PutU16(out, file.version);
  PutU32(out, file.field4);
  const std::int32_t count = file.pageCountOverride.value_or(
      static_cast<std::int32_t>(Size32(file.pages.size(), "page count")));
  PutU32(out, static_cast<std::uint32_t>(count));
  PutU32(out, file.documentSizeOverride.value_or(Size32(file.documentBlock.size(), "document block")));
  Append(out, file.documentBlock);
  for (const PageRecordV2& page : file.pages) {
    PutU32(out, page.value);
    PutU32(out, Size32(page.block.size(), "page block"));
    Append(out, page.block);
  }
  return out;
}

Bytes Serialize(const AttrFileV1& file) {
  Bytes out;
  PutU16(out, file.field0);
  PutU16(out, file.version);
  PutU32(out, file.field4);
  const std::size_t documentOffsetAt = out.size();
  PutU32(out, 0);  // filled in once the page table is laid out
  PutU16(out, static_cast<std::uint16_t>(
                  file.documentRecordCountOverride.value_or(Count16(file.documentRecords.size(), "document records"))));
  PutU16(out, static_cast<std::uint16_t>(file.pageCountOverride.value_or(Count16(file.pages.size(), "page count"))));

  const std::size_t tableAt = out.size();
  for (const auto& page : file.pages) {
    PutU32(out, 0);  // offset, filled in below
    PutU16(out, static_cast<std::uint16_t>(Count16(page.size(), "page records")));
    PutU16(out, 0);
  }

  SetU32(out, documentOffsetAt, file.documentListOffsetOverride.value_or(Size32(out.size(), "file")));
  for (const RecordV1& record : file.documentRecords) PutRecord(out, record);
  for (std::size_t i = 0; i < file.pages.size(); ++i) {
    SetU32(out, tableAt + i * v1::kPageEntrySize, Size32(out.size(), "file"));
    for (const RecordV1& record : file.pages[i]) PutRecord(out, record);
  }
  return out;
}

RecordV1 RecordV1::Int32(std::int16_t type, std::int32_t value) {
  RecordV1 record;
  record.type = type;
  record.kind = RecordKind::Raw;
  PutU32(record.payload, static_cast<std::uint32_t>(value));
  return record;
}

RecordV1 RecordV1::Int64(std::int16_t type, std::int64_t value) {
  RecordV1 record;
  record.type = type;
  record.kind = RecordKind::Raw;
  PutU64(record.payload, static_cast<std::uint64_t>(value));
  return record;
}

RecordV1 RecordV1::Ansi(std::int16_t type, const std::string& bytes) {
  RecordV1 record;
  record.type = type;
  record.kind = RecordKind::Ansi;
  record.payload.assign(bytes.begin(), bytes.end());
  return record;
}

RecordV1 RecordV1::Utf16(std::int16_t type, const std::u16string& text) {
  RecordV1 record;
  record.type = type;
  record.kind = RecordKind::Utf16;
  for (char16_t unit : text) PutU16(record.payload, static_cast<std::uint16_t>(unit));
  return record;
}

std::string PageFileNameV1(std::uint32_t pageValue) {
  char name[16];
  std::snprintf(name, sizeof name, "%08lx.pg", static_cast<unsigned long>(pageValue));
  return name;
}

std::string PageFileNameV2(int pageNumber) { return std::to_string(pageNumber) + ".pg"; }

}  // namespace esproduce
