#include "attrs/DocAttrsImport.h"

#include <exception>
#include <new>
#include <utility>

#include "base/Trace.h"

namespace es {

namespace {

constexpr std::size_t kHeadSize = 16;         // header, then the document block's size
constexpr std::size_t kPageRecordHead = 8;    // page value, block size

}  // namespace

bool CDocAttrsImport::LoadBytes(std::vector<std::uint8_t> bytes, const Str& name) {
  pageOffsets_.clear();
  reportedShortFile_ = false;
  // Every version starts with the 12-byte header; without it the file tells nothing.
  if (!Keep(std::move(bytes), name, kAttrFileHeaderSize, u"header")) return false;
  // Only this layout needs more: its 16-byte head and the whole document block. A file of
  // another version keeps its header readable, so that the import can turn to version 1.
  if (attrbytes::U16(buffer_.data() + 2) == kAttrFileVersion2) {
    if (buffer_.size() < kHeadSize) {
      Trace(kSevError, kSourceAttributes, __LINE__, u"Attribute file '%s' is too short for its head (%d bytes).",
            name_.c_str(), static_cast<int>(buffer_.size()));
      buffer_.clear();
      return false;
    }
    const std::uint64_t documentEnd = kHeadSize + std::uint64_t{attrbytes::U32(buffer_.data() + 12)};
    if (documentEnd > buffer_.size()) {
      Trace(kSevError, kSourceAttributes, __LINE__,
            u"Attribute file '%s': the document block of %u bytes runs past the end of the file (%u bytes).",
            name_.c_str(), attrbytes::U32(buffer_.data() + 12), static_cast<unsigned>(buffer_.size()));
      buffer_.clear();
      return false;
    }
  }
  return true;
}

void CDocAttrsImport::GetHeader(AttrFileHeader* header) const {
  *header = AttrFileHeader{};
  if (buffer_.size() < kAttrFileHeaderSize) return;
  ReadFirstFields(header);
  header->pageCount = attrbytes::I32(buffer_.data() + 8);
}

bool CDocAttrsImport::HasBody() const {
  // A file of another version is read only as far as its header.
  return buffer_.size() >= kHeadSize && attrbytes::U16(buffer_.data() + 2) == kAttrFileVersion2 &&
         kHeadSize + std::uint64_t{DocumentSize()} <= buffer_.size();
}

std::int32_t CDocAttrsImport::PageCount() const { return attrbytes::I32(buffer_.data() + 8); }

std::uint32_t CDocAttrsImport::DocumentSize() const { return attrbytes::U32(buffer_.data() + 12); }

bool CDocAttrsImport::LoadBlock(CAttrContainer* container, std::size_t offset, std::uint32_t size) {
  try {
    if (container->CreateFromBuffer(buffer_.data() + offset, 1, size) == 0) {
      // The container keeps what it had; the import goes on with it.
      Trace(kSevError, kSourceAttributes, __LINE__, "Function CreateFromBuffer failed for the document");
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool CDocAttrsImport::ReadDocumentAttributes(CAttrContainer* document, std::int32_t* pageCount) {
  if (!HasBody()) return false;
  *pageCount = PageCount();
  return LoadBlock(document, kHeadSize, DocumentSize());
}

bool CDocAttrsImport::LocatePage(std::int32_t index, std::size_t* offset) {
  if (pageOffsets_.empty()) pageOffsets_.push_back(kHeadSize + DocumentSize());
  // Records are found one after the other: each starts where the one before it ends.
  while (pageOffsets_.size() <= static_cast<std::size_t>(index)) {
    const std::size_t at = pageOffsets_.back();
    if (at + kPageRecordHead > buffer_.size()) return false;
    const std::uint64_t next = at + kPageRecordHead + std::uint64_t{attrbytes::U32(buffer_.data() + at + 4)};
    if (next > buffer_.size()) return false;
    pageOffsets_.push_back(static_cast<std::size_t>(next));
  }
  *offset = pageOffsets_[static_cast<std::size_t>(index)];
  return true;
}

bool CDocAttrsImport::ReadPageAttributes(std::int32_t index, CAttrContainer* page, std::uint32_t* pageValue) {
  if (!HasBody()) return false;
  const std::int32_t pages = PageCount();
  if (index < 0 || index >= pages) {
    Trace(kSevError, kSourceAttributes, __LINE__,
          u"Attempt to access an invalid page #%1!d!. Document has %2!d! pages.", static_cast<int>(index),
          static_cast<int>(pages));
    return false;
  }
  // The file announces the pages; a record it does not hold whole is not read at all.
  std::size_t at = 0;
  if (!LocatePage(index, &at) || at + kPageRecordHead > buffer_.size() ||
      at + kPageRecordHead + std::uint64_t{attrbytes::U32(buffer_.data() + at + 4)} > buffer_.size()) {
    // Once per file: every later page lies past the same end.
    if (!reportedShortFile_) {
      Trace(kSevError, kSourceAttributes, __LINE__,
            u"Attribute file '%s': the record of page %d runs past the end of the file.", name_.c_str(),
            static_cast<int>(index));
      reportedShortFile_ = true;
    }
    return false;
  }
  *pageValue = attrbytes::U32(buffer_.data() + at);
  return LoadBlock(page, at + kPageRecordHead, attrbytes::U32(buffer_.data() + at + 4));
}

}  // namespace es
