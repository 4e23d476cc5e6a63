#include "TiffLayout.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace pictorn {
namespace {

// Limits against files that announce more than any page needs.
constexpr std::uint32_t kMaxSide = 1u << 20;
constexpr std::uint64_t kMaxArrayBytes = 64ull << 20;   // one strip or tile table
constexpr std::uint64_t kMaxValueBytes = 16ull << 20;   // all other values of a directory
constexpr std::uint64_t kMaxDataBytes = 1ull << 30;     // the image data of one page

enum : std::uint16_t {
  kTagWidth = 256,
  kTagHeight = 257,
  kTagBitsPerSample = 258,
  kTagCompression = 259,
  kTagPhotometric = 262,
  kTagStripOffsets = 273,
  kTagSamplesPerPixel = 277,
  kTagRowsPerStrip = 278,
  kTagStripByteCounts = 279,
  kTagXResolution = 282,
  kTagYResolution = 283,
  kTagPlanarConfig = 284,
  kTagFreeOffsets = 288,
  kTagFreeByteCounts = 289,
  kTagResolutionUnit = 296,
  kTagTileWidth = 322,
  kTagTileLength = 323,
  kTagTileOffsets = 324,
  kTagTileByteCounts = 325,
  kTagSubIfds = 330,
  kTagOldJpegFirst = 513,  // 513 to 521: offsets into the file for old-style JPEG
  kTagOldJpegLast = 521,
  kTagExifIfd = 34665,
  kTagGpsIfd = 34853,
  kTagInteropIfd = 40965,
};
enum : std::uint16_t { kTypeByte = 1, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5, kTypeIfd = 13 };

unsigned TypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// Tags whose values point elsewhere in the file: they cannot travel with one page.
bool IsLink(const std::uint16_t tag, const std::uint16_t type) {
  return type == kTypeIfd || tag == kTagSubIfds || tag == kTagExifIfd || tag == kTagGpsIfd ||
         tag == kTagInteropIfd || tag == kTagFreeOffsets || tag == kTagFreeByteCounts ||
         (tag >= kTagOldJpegFirst && tag <= kTagOldJpegLast);
}

std::uint64_t DivideUp(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

class Writer {
 public:
  explicit Writer(bool bigEndian) : big_(bigEndian) {}
  void U16(Bytes& out, std::size_t at, std::uint32_t v) const {
    out[at + (big_ ? 1 : 0)] = static_cast<std::uint8_t>(v);
    out[at + (big_ ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(Bytes& out, std::size_t at, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i) out[at + (big_ ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }

 private:
  bool big_;
};

}  // namespace

std::uint32_t TiffFile::U16(const std::uint8_t* p) const {
  return bigEndian_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
}
std::uint32_t TiffFile::U32(const std::uint8_t* p) const {
  return bigEndian_ ? (U16(p) << 16 | U16(p + 2)) : (U16(p + 2) << 16 | U16(p));
}

bool TiffFile::Open(std::string* why) {
  std::uint8_t header[8];
  if (!source_.ReadAt(0, header, sizeof header)) {
    *why = "too short for a TIFF file";
    return false;
  }
  if (header[0] == 'I' && header[1] == 'I') {
    bigEndian_ = false;
  } else if (header[0] == 'M' && header[1] == 'M') {
    bigEndian_ = true;
  } else {
    *why = "not a TIFF file";
    return false;
  }
  if (U16(header + 2) != 42) {
    *why = U16(header + 2) == 43 ? "a BigTIFF file, which is not read" : "not a TIFF file";
    return false;
  }
  first_ = U32(header + 4);
  return true;
}

std::vector<std::uint64_t> TiffFile::Directories(std::uint32_t limit) {
  std::vector<std::uint64_t> directories;
  std::set<std::uint64_t> seen;
  for (std::uint64_t offset = first_; offset != 0 && directories.size() < limit;) {
    if (!seen.insert(offset).second) break;
    std::uint8_t count[2];
    if (!source_.ReadAt(offset, count, 2)) break;
    std::uint8_t link[4];
    if (!source_.ReadAt(offset + 2 + 12ull * U16(count), link, 4)) break;
    directories.push_back(offset);
    offset = U32(link);
  }
  return directories;
}

bool TiffFile::ReadDirectory(std::uint64_t offset, Directory* directory, std::string* why) {
  std::uint8_t countBytes[2];
  if (!source_.ReadAt(offset, countBytes, 2)) {
    *why = "the image directory lies beyond the end of the file";
    return false;
  }
  const std::uint32_t count = U16(countBytes);
  Bytes raw(12ull * count);
  if (!source_.ReadAt(offset + 2, raw.data(), raw.size())) {
    *why = "the image directory is cut short";
    return false;
  }
  directory->entries.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* p = raw.data() + 12 * i;
    Entry entry;
    entry.tag = static_cast<std::uint16_t>(U16(p));
    entry.type = static_cast<std::uint16_t>(U16(p + 2));
    entry.count = U32(p + 4);
    std::copy(p + 8, p + 12, entry.field);
    entry.byteSize = std::uint64_t{TypeSize(entry.type)} * entry.count;
    if (entry.byteSize == 0) continue;  // unknown types may be skipped; empty values carry nothing
    directory->entries.push_back(entry);
  }
  return true;
}

bool TiffFile::ValueBytes(const Entry& entry, Bytes* bytes) {
  if (entry.byteSize <= 4) {
    bytes->assign(entry.field, entry.field + entry.byteSize);
    return true;
  }
  const std::uint64_t offset = U32(entry.field);
  const std::uint64_t size = source_.Size();
  if (offset > size || entry.byteSize > size - offset) return false;  // before allocating
  bytes->resize(entry.byteSize);
  return source_.ReadAt(offset, bytes->data(), bytes->size());
}

bool TiffFile::Numbers(const Entry& entry, std::uint64_t maxCount, std::vector<std::uint64_t>* numbers) {
  const unsigned size = TypeSize(entry.type);
  if ((entry.type != kTypeByte && entry.type != kTypeShort && entry.type != kTypeLong) ||
      entry.count == 0 || entry.count > maxCount) {
    return false;
  }
  Bytes bytes;
  if (!ValueBytes(entry, &bytes)) return false;
  numbers->resize(entry.count);
  for (std::uint32_t i = 0; i < entry.count; ++i) {
    const std::uint8_t* p = bytes.data() + std::size_t{i} * size;
    (*numbers)[i] = size == 1 ? *p : size == 2 ? U16(p) : U32(p);
  }
  return true;
}

bool TiffFile::Analyse(Directory& directory, TiffPage* page, std::string* why) {
  *page = TiffPage{};
  bool haveWidth = false;
  bool haveHeight = false;
  std::uint64_t rowsPerStrip = 0xFFFFFFFF;
  std::uint64_t tileWidth = 0;
  std::uint64_t tileLength = 0;
  const Entry* offsets = nullptr;
  const Entry* counts = nullptr;
  const Entry* tileOffsets = nullptr;
  const Entry* tileCounts = nullptr;
  for (const Entry& entry : directory.entries) {
    std::vector<std::uint64_t> n;
    auto first = [&](std::uint64_t* value) {
      if (Numbers(entry, kMaxArrayBytes, &n)) *value = n[0];
    };
    auto rational = [&](double* value) {
      Bytes bytes;
      if (entry.type != kTypeRational || entry.count < 1 || !ValueBytes(entry, &bytes)) return;
      const std::uint32_t den = U32(bytes.data() + 4);
      if (den != 0) *value = static_cast<double>(U32(bytes.data())) / den;
    };
    std::uint64_t v = 0;
    switch (entry.tag) {
      case kTagWidth: first(&v); page->width = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, kMaxSide + 1)); haveWidth = v != 0; break;
      case kTagHeight: first(&v); page->height = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, kMaxSide + 1)); haveHeight = v != 0; break;
      case kTagBitsPerSample: v = 1; first(&v); page->bitsPerSample = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFF)); break;
      case kTagCompression: v = 1; first(&v); page->compression = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFF)); break;
      case kTagPhotometric: v = TiffPage::kUnknown; first(&v); page->photometric = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, TiffPage::kUnknown)); break;
      case kTagSamplesPerPixel: v = 1; first(&v); page->samplesPerPixel = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFF)); break;
      case kTagRowsPerStrip: first(&rowsPerStrip); break;
      case kTagPlanarConfig: v = 1; first(&v); page->planar = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFF)); break;
      case kTagResolutionUnit: v = 2; first(&v); page->resolutionUnit = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFF)); break;
      case kTagXResolution: rational(&page->xResolution); break;
      case kTagYResolution: rational(&page->yResolution); break;
      case kTagTileWidth: first(&tileWidth); break;
      case kTagTileLength: first(&tileLength); break;
      case kTagStripOffsets: offsets = &entry; break;
      case kTagStripByteCounts: counts = &entry; break;
      case kTagTileOffsets: tileOffsets = &entry; break;
      case kTagTileByteCounts: tileCounts = &entry; break;
      default: break;
    }
  }
  if (!haveWidth || !haveHeight) {
    *why = "the image directory gives no width or height";
    return false;
  }
  if (page->width > kMaxSide || page->height > kMaxSide) {
    *why = "the image is larger than " + std::to_string(kMaxSide) + " pixels a side";
    return false;
  }
  if (page->samplesPerPixel < 1 || page->samplesPerPixel > 8 || page->bitsPerSample < 1 ||
      page->bitsPerSample > 32 || (page->planar != 1 && page->planar != 2)) {
    *why = "the image has an unusable sample layout";
    return false;
  }
  std::uint64_t expected = 0;
  const std::uint64_t planes = page->planar == 2 ? page->samplesPerPixel : 1;
  if (tileOffsets || tileCounts) {
    if (tileWidth == 0 || tileLength == 0 || tileWidth > kMaxSide || tileLength > kMaxSide) {
      *why = "the image's tiles have no usable size";
      return false;
    }
    page->tiled = true;
    offsets = tileOffsets;
    counts = tileCounts;
    expected = DivideUp(page->width, tileWidth) * DivideUp(page->height, tileLength) * planes;
  } else {
    const std::uint64_t rows = std::clamp<std::uint64_t>(rowsPerStrip, 1, page->height);
    expected = DivideUp(page->height, rows) * planes;
  }
  const std::uint64_t maxBlocks = kMaxArrayBytes / 4;
  if (!offsets || !counts || !Numbers(*offsets, maxBlocks, &directory.dataOffsets) ||
      !Numbers(*counts, maxBlocks, &directory.dataCounts)) {
    *why = "the image directory does not say where the image data lies";
    return false;
  }
  if (directory.dataOffsets.size() != directory.dataCounts.size() ||
      directory.dataOffsets.size() < expected) {
    *why = "the image directory lists too few blocks of image data";
    return false;
  }
  const std::uint64_t fileSize = source_.Size();
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < directory.dataOffsets.size(); ++i) {
    const std::uint64_t offset = directory.dataOffsets[i];
    const std::uint64_t count = directory.dataCounts[i];
    if (count == 0) {
      *why = "a block of image data is empty";
      return false;
    }
    if (offset > fileSize || count > fileSize - offset) {
      *why = "the image data runs past the end of the file (the file is cut short)";
      return false;
    }
    total += count;
    if (total > fileSize || total > kMaxDataBytes) {
      *why = "the image data is larger than the file allows";
      return false;
    }
  }
  page->dataBytes = total;
  if (!std::isfinite(page->xResolution) || page->xResolution < 0) page->xResolution = 0;
  if (!std::isfinite(page->yResolution) || page->yResolution < 0) page->yResolution = 0;
  return true;
}

bool TiffFile::ReadPage(std::uint64_t offset, TiffPage* page, std::string* why) {
  Directory directory;
  return ReadDirectory(offset, &directory, why) && Analyse(directory, page, why);
}

bool TiffFile::ExtractPage(std::uint64_t offset, TiffPage* page, Bytes* file, std::string* why) {
  Directory directory;
  if (!ReadDirectory(offset, &directory, why) || !Analyse(directory, page, why)) return false;

  struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    Bytes value;  // in the file's byte order
  };
  const Writer put(bigEndian_);
  const std::uint16_t offsetsTag = page->tiled ? kTagTileOffsets : kTagStripOffsets;
  const std::uint16_t countsTag = page->tiled ? kTagTileByteCounts : kTagStripByteCounts;
  std::vector<Field> fields;
  std::uint64_t valueBytes = 0;
  for (const Entry& entry : directory.entries) {
    if (IsLink(entry.tag, entry.type) || entry.tag == kTagStripOffsets ||
        entry.tag == kTagStripByteCounts || entry.tag == kTagTileOffsets ||
        entry.tag == kTagTileByteCounts) {
      continue;
    }
    valueBytes += entry.byteSize;
    if (valueBytes > kMaxValueBytes) {
      *why = "the image directory's values are too large";
      return false;
    }
    Field field{entry.tag, entry.type, entry.count, {}};
    // A value outside the file is left out; the decoder then decides whether the image
    // can do without it.
    if (ValueBytes(entry, &field.value)) fields.push_back(std::move(field));
  }
  const std::size_t blocks = directory.dataOffsets.size();
  fields.push_back({offsetsTag, kTypeLong, static_cast<std::uint32_t>(blocks), Bytes(4 * blocks)});
  fields.push_back({countsTag, kTypeLong, static_cast<std::uint32_t>(blocks), Bytes(4 * blocks)});
  // Sorted by tag, as readers expect; of repeated tags the first counts.
  std::stable_sort(fields.begin(), fields.end(), [](const Field& a, const Field& b) { return a.tag < b.tag; });
  fields.erase(std::unique(fields.begin(), fields.end(), [](const Field& a, const Field& b) { return a.tag == b.tag; }),
               fields.end());

  // Header, directory, longer values, image data.
  const std::size_t ifdSize = 2 + 12 * fields.size() + 4;
  std::size_t end = 8 + ifdSize;
  std::vector<std::size_t> valueAt(fields.size(), 0);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].value.size() > 4) {
      valueAt[i] = end;
      end += (fields[i].value.size() + 1) & ~std::size_t{1};
    }
  }
  const std::size_t dataStart = end;
  const std::uint64_t fileSize = dataStart + page->dataBytes;
  if (fileSize > 0xFFFFFFFFull) {
    *why = "the image is too large to be copied out";
    return false;
  }
  std::size_t at = dataStart;
  for (Field& field : fields) {
    if (field.tag != offsetsTag && field.tag != countsTag) continue;
    for (std::size_t b = 0; b < blocks; ++b) {
      put.U32(field.value, 4 * b,
              static_cast<std::uint32_t>(field.tag == offsetsTag ? at : directory.dataCounts[b]));
      if (field.tag == offsetsTag) at += directory.dataCounts[b];
    }
  }

  Bytes out(fileSize, 0);
  out[0] = out[1] = bigEndian_ ? 'M' : 'I';
  put.U16(out, 2, 42);
  put.U32(out, 4, 8);
  put.U16(out, 8, static_cast<std::uint32_t>(fields.size()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t entry = 8 + 2 + 12 * i;
    put.U16(out, entry, fields[i].tag);
    put.U16(out, entry + 2, fields[i].type);
    put.U32(out, entry + 4, fields[i].count);
    if (valueAt[i] != 0) {
      put.U32(out, entry + 8, static_cast<std::uint32_t>(valueAt[i]));
      std::copy(fields[i].value.begin(), fields[i].value.end(), out.begin() + valueAt[i]);
    } else {
      std::copy(fields[i].value.begin(), fields[i].value.end(), out.begin() + entry + 8);
    }
  }
  // The link to a next directory stays 0.
  at = dataStart;
  for (std::size_t b = 0; b < blocks; ++b) {
    if (!source_.ReadAt(directory.dataOffsets[b], out.data() + at, directory.dataCounts[b])) {
      *why = "the image data cannot be read";
      return false;
    }
    at += directory.dataCounts[b];
  }
  file->swap(out);
  return true;
}

}  // namespace pictorn
