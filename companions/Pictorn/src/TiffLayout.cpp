#include "TiffLayout.h"

#include "TiffTags.h"

#include <algorithm>
#include <cmath>

#include "Pictorn.h"

namespace pictorn {
namespace {

// Limits against files that announce more than any page needs.
constexpr std::uint32_t kMaxSide = 1u << 20;
constexpr std::uint64_t kMaxArrayBytes = 64ull << 20;   // one strip or tile table
constexpr std::uint64_t kMaxValueBytes = 16ull << 20;   // all other values of a directory
constexpr std::uint64_t kMaxEntries = 0xFFFF;           // entries of one directory

using namespace tifftag;

unsigned TypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
  }
}

// Tags whose values point elsewhere in the file: they cannot travel with one page.
bool IsLink(const std::uint16_t tag, const std::uint16_t type) {
  return type == kTypeIfd || type == kTypeIfd8 || tag == kSubIfds || tag == kExifIfd ||
         tag == kGpsIfd || tag == kInteropIfd || tag == kFreeOffsets || tag == kFreeByteCounts ||
         (tag >= kOldJpegFirst && tag <= kOldJpegLast);
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
std::uint64_t TiffFile::U64(const std::uint8_t* p) const {
  return bigEndian_ ? (std::uint64_t{U32(p)} << 32 | U32(p + 4)) : (std::uint64_t{U32(p + 4)} << 32 | U32(p));
}
std::uint64_t TiffFile::Number(const std::uint8_t* p, unsigned size) const {
  return size == 1 ? *p : size == 2 ? U16(p) : size == 4 ? U32(p) : U64(p);
}

bool TiffFile::Open(std::string* why) {
  std::uint8_t header[16];
  if (!source_.ReadAt(0, header, 8)) {
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
  if (U16(header + 2) == 42) {
    first_ = U32(header + 4);
    return true;
  }
  // BigTIFF: 8-byte offsets, announced as such.
  if (U16(header + 2) != 43 || !source_.ReadAt(8, header + 8, 8) || U16(header + 4) != 8 || U16(header + 6) != 0) {
    *why = "not a TIFF file";
    return false;
  }
  big_ = true;
  first_ = U64(header + 8);
  return true;
}

void TiffFile::Walk(ChainWalk* walk, std::size_t wantPages) {
  if (!walk->started) {
    walk->started = true;
    walk->next = first_;
  }
  const std::uint64_t fileSize = source_.Size();
  const unsigned countSize = big_ ? 8 : 2;
  const unsigned entrySize = big_ ? 20 : 12;
  while (walk->next != 0 && walk->pages.size() < wantPages) {
    const std::uint64_t offset = walk->next;
    walk->next = 0;
    if (!walk->seen.insert(offset).second) break;
    std::uint8_t countBytes[8];
    if (!source_.ReadAt(offset, countBytes, countSize)) break;
    const std::uint64_t count = big_ ? U64(countBytes) : U16(countBytes);
    if (count > kMaxEntries) break;
    const std::uint64_t size = countSize + entrySize * count + (big_ ? 8 : 4);
    walk->directoryBytes += size;
    if (walk->directoryBytes > fileSize) break;  // overlapping directories
    Bytes raw(static_cast<std::size_t>(size));
    if (!source_.ReadAt(offset, raw.data(), raw.size())) break;
    // Only full-resolution images are pages.
    bool page = true;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t* p = raw.data() + countSize + entrySize * i;
      const std::uint32_t tag = U16(p);
      if (tag != kNewSubfileType && tag != kSubfileType) continue;
      const unsigned typeSize = TypeSize(static_cast<std::uint16_t>(U16(p + 2)));
      if (typeSize == 0 || typeSize > 4) continue;
      const std::uint64_t value = Number(p + (big_ ? 12 : 8), typeSize);
      if ((tag == kNewSubfileType && (value & 5) != 0) || (tag == kSubfileType && value == 2)) page = false;
    }
    if (page) {
      walk->pages.push_back(offset);
    } else {
      ++walk->skipped;
    }
    const std::uint8_t* link = raw.data() + countSize + entrySize * count;
    walk->next = big_ ? U64(link) : U32(link);
  }
}

bool TiffFile::ReadDirectory(std::uint64_t offset, Directory* directory, std::uint64_t* next, std::string* why) {
  const unsigned countSize = big_ ? 8 : 2;
  const unsigned entrySize = big_ ? 20 : 12;
  std::uint8_t countBytes[8];
  if (!source_.ReadAt(offset, countBytes, countSize)) {
    *why = "the image directory lies beyond the end of the file";
    return false;
  }
  const std::uint64_t count = big_ ? U64(countBytes) : U16(countBytes);
  if (count > kMaxEntries) {
    *why = "the image directory has too many entries";
    return false;
  }
  Bytes raw(static_cast<std::size_t>(entrySize * count + (big_ ? 8 : 4)));
  if (!source_.ReadAt(offset + countSize, raw.data(), raw.size())) {
    *why = "the image directory is cut short";
    return false;
  }
  directory->entries.clear();
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* p = raw.data() + entrySize * i;
    Entry entry;
    entry.tag = static_cast<std::uint16_t>(U16(p));
    entry.type = static_cast<std::uint16_t>(U16(p + 2));
    entry.count = big_ ? U64(p + 4) : U32(p + 4);
    std::copy(p + (big_ ? 12 : 8), p + entrySize, entry.field);
    const unsigned typeSize = TypeSize(entry.type);
    if (typeSize == 0 || entry.count == 0) continue;  // unknown types may be skipped; empty values carry nothing
    if (entry.count > kPictornMaxFileBytes / typeSize) {
      entry.byteSize = kPictornMaxFileBytes;  // more than any file holds: its value is never read
    } else {
      entry.byteSize = typeSize * entry.count;
    }
    directory->entries.push_back(entry);
  }
  if (next) {
    const std::uint8_t* link = raw.data() + entrySize * count;
    *next = big_ ? U64(link) : U32(link);
  }
  return true;
}

bool TiffFile::ValueBytes(const Entry& entry, Bytes* bytes) {
  if (entry.byteSize <= (big_ ? 8u : 4u)) {
    bytes->assign(entry.field, entry.field + entry.byteSize);
    return true;
  }
  const std::uint64_t offset = big_ ? U64(entry.field) : U32(entry.field);
  const std::uint64_t size = source_.Size();
  if (offset > size || entry.byteSize > size - offset) return false;  // before allocating
  bytes->resize(static_cast<std::size_t>(entry.byteSize));
  return source_.ReadAt(offset, bytes->data(), bytes->size());
}

bool TiffFile::Numbers(const Entry& entry, std::uint64_t maxCount, std::vector<std::uint64_t>* numbers) {
  const unsigned size = TypeSize(entry.type);
  if ((entry.type != kTypeByte && entry.type != kTypeShort && entry.type != kTypeLong &&
       entry.type != kTypeLong8) ||
      entry.count == 0 || entry.count > maxCount) {
    return false;
  }
  Bytes bytes;
  if (!ValueBytes(entry, &bytes)) return false;
  numbers->resize(static_cast<std::size_t>(entry.count));
  for (std::size_t i = 0; i < numbers->size(); ++i) (*numbers)[i] = Number(bytes.data() + i * size, size);
  return true;
}

bool TiffFile::Analyse(Directory& directory, TiffPage* page, std::string* why) {
  *page = TiffPage{};
  page->fromBigTiff = big_;
  bool haveWidth = false;
  bool haveHeight = false;
  std::uint64_t rowsPerStrip = 0xFFFFFFFF;
  std::uint64_t tileWidth = 0;
  std::uint64_t tileLength = 0;
  const Entry* offsets = nullptr;
  const Entry* counts = nullptr;
  const Entry* tileOffsets = nullptr;
  const Entry* tileCounts = nullptr;
  const Entry* colormap = nullptr;
  for (const Entry& entry : directory.entries) {
    std::vector<std::uint64_t> n;
    auto first = [&](std::uint64_t* value) {
      if (Numbers(entry, kMaxArrayBytes, &n)) *value = n[0];
    };
    // A small number: values beyond `max` become max + 1, which every check refuses.
    auto small = [&](std::uint32_t* value, std::uint64_t fallback, std::uint64_t max) {
      std::uint64_t v = fallback;
      first(&v);
      *value = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, max + 1));
    };
    auto rational = [&](double* value) {
      Bytes bytes;
      if (entry.type != kTypeRational || !ValueBytes(entry, &bytes)) return;
      const std::uint32_t den = U32(bytes.data() + 4);
      if (den != 0) *value = static_cast<double>(U32(bytes.data())) / den;
    };
    switch (entry.tag) {
      case kWidth: small(&page->width, 0, kMaxSide); haveWidth = page->width != 0; break;
      case kHeight: small(&page->height, 0, kMaxSide); haveHeight = page->height != 0; break;
      case kBitsPerSample: small(&page->bitsPerSample, 1, 0xFFFF); break;
      case kCompression: small(&page->compression, 1, 0xFFFF); break;
      case kPhotometric: small(&page->photometric, TiffPage::kUnknown, 0xFFFF); break;
      case kFillOrder: small(&page->fillOrder, 1, 0xFFFF); break;
      case kSamplesPerPixel: small(&page->samplesPerPixel, 1, 0xFFFF); break;
      case kRowsPerStrip: first(&rowsPerStrip); break;
      case kPlanarConfig: small(&page->planar, 1, 0xFFFF); break;
      case kResolutionUnit: small(&page->resolutionUnit, 2, 0xFFFF); break;
      case kPredictor: small(&page->predictor, 1, 0xFFFF); break;
      case kInkSet: small(&page->inkSet, 1, 0xFFFF); break;
      case kSampleFormat: small(&page->sampleFormat, 1, 0xFFFF); break;
      case kExtraSamples:
        if (Numbers(entry, 0xFFFF, &n)) {
          page->extraSamples = static_cast<std::uint32_t>(n.size());
          page->alpha = n[0] == 1 || n[0] == 2 ? static_cast<std::uint32_t>(n[0]) : 0;
        }
        break;
      case kXResolution: rational(&page->xResolution); break;
      case kYResolution: rational(&page->yResolution); break;
      case kTileWidth: first(&tileWidth); break;
      case kTileLength: first(&tileLength); break;
      case kStripOffsets: offsets = &entry; break;
      case kStripByteCounts: counts = &entry; break;
      case kTileOffsets: tileOffsets = &entry; break;
      case kTileByteCounts: tileCounts = &entry; break;
      case kColorMap: colormap = &entry; break;
      default: break;
    }
  }
  if (page->photometric == TiffPage::kUnknown) page->photometric = 1;  // readers take gray
  if (!haveWidth || !haveHeight) {
    *why = "the image directory gives no width or height";
    return false;
  }
  if (page->width > kMaxSide || page->height > kMaxSide) {
    *why = "the image is larger than " + std::to_string(kMaxSide) + " pixels a side";
    return false;
  }
  if (page->samplesPerPixel < 1 || page->samplesPerPixel > 8 || page->bitsPerSample < 1 ||
      page->bitsPerSample > 64 || (page->planar != 1 && page->planar != 2) ||
      page->extraSamples >= page->samplesPerPixel) {
    *why = "the image has an unusable sample layout";
    return false;
  }
  if (colormap && page->bitsPerSample <= 8) {
    std::vector<std::uint64_t> n;
    const std::uint64_t entries = std::uint64_t{1} << page->bitsPerSample;
    if (colormap->type == kTypeShort && colormap->count == 3 * entries && Numbers(*colormap, 3 * entries, &n)) {
      page->colormap.assign(n.begin(), n.end());
    }
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
    page->rowsPerStrip = static_cast<std::uint32_t>(rows);
    expected = DivideUp(page->height, rows) * planes;
  }
  const std::uint64_t maxBlocks = kMaxArrayBytes / 8;
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
  // Only the blocks the image needs travel with it.
  directory.dataOffsets.resize(static_cast<std::size_t>(expected));
  directory.dataCounts.resize(static_cast<std::size_t>(expected));
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
    if (total > fileSize) {
      *why = "the image data is larger than the file";
      return false;
    }
  }
  if (total > kPictornMaxPageBytes) {
    *why = std::to_string(total) + " bytes of encoded image data, more than the " +
           std::to_string(kPictornMaxPageBytes >> 20) + " MiB a page may have";
    return false;
  }
  page->dataBytes = total;
  if (!std::isfinite(page->xResolution) || page->xResolution < 0) page->xResolution = 0;
  if (!std::isfinite(page->yResolution) || page->yResolution < 0) page->yResolution = 0;
  return true;
}

bool TiffFile::ReadPage(std::uint64_t offset, TiffPage* page, std::string* why) {
  Directory directory;
  return ReadDirectory(offset, &directory, nullptr, why) && Analyse(directory, page, why);
}

Bytes TiffFile::DirectoryBytes(std::uint64_t offset) {
  constexpr std::uint64_t kMaxBytes = 4096;
  const unsigned countSize = big_ ? 8 : 2;
  const unsigned linkSize = big_ ? 8 : 4;
  std::uint8_t countBytes[8];
  if (!source_.ReadAt(offset, countBytes, countSize)) return {};
  const std::uint64_t count = std::min<std::uint64_t>(big_ ? U64(countBytes) : U16(countBytes), kMaxEntries);
  const std::uint64_t entries = (big_ ? 20 : 12) * count;
  Bytes out(countSize + std::min(entries, kMaxBytes) + linkSize);
  std::copy(countBytes, countBytes + countSize, out.begin());
  if (!source_.ReadAt(offset + countSize, out.data() + countSize, out.size() - countSize - linkSize) ||
      !source_.ReadAt(offset + countSize + entries, out.data() + out.size() - linkSize, linkSize)) {
    return {};
  }
  return out;
}

bool TiffFile::Blocks(std::uint64_t offset, std::vector<std::uint64_t>* offsets, std::vector<std::uint64_t>* counts,
                      std::uint16_t tag, Bytes* value, std::string* why) {
  Directory directory;
  TiffPage page;
  if (!ReadDirectory(offset, &directory, nullptr, why) || !Analyse(directory, &page, why)) return false;
  value->clear();
  for (const Entry& entry : directory.entries) {
    if (entry.tag == tag && entry.byteSize <= kMaxValueBytes && !ValueBytes(entry, value)) value->clear();
  }
  *offsets = directory.dataOffsets;
  *counts = directory.dataCounts;
  return true;
}

bool TiffFile::ExtractPage(std::uint64_t offset, TiffPage* page, Bytes* file, std::string* why) {
  Directory directory;
  if (!ReadDirectory(offset, &directory, nullptr, why) || !Analyse(directory, page, why)) return false;

  struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    Bytes value;  // in the file's byte order
  };
  const Writer put(bigEndian_);
  const std::uint16_t offsetsTag = page->tiled ? kTileOffsets : kStripOffsets;
  const std::uint16_t countsTag = page->tiled ? kTileByteCounts : kStripByteCounts;
  std::vector<Field> fields;
  std::uint64_t valueBytes = 0;
  for (const Entry& entry : directory.entries) {
    if (IsLink(entry.tag, entry.type) || entry.tag == kStripOffsets ||
        entry.tag == kStripByteCounts || entry.tag == kTileOffsets ||
        entry.tag == kTileByteCounts) {
      continue;
    }
    valueBytes += entry.byteSize;
    if (valueBytes > kMaxValueBytes) {
      *why = "the image directory's values are too large";
      return false;
    }
    Field field{entry.tag, entry.type, static_cast<std::uint32_t>(entry.count), {}};
    // A value outside the file is left out; the decoder then decides whether the image
    // can do without it.
    if (!ValueBytes(entry, &field.value)) continue;
    if (entry.type == kTypeLong8 || entry.type == kTypeSlong8) {
      // BigTIFF's 8-byte numbers become 4-byte ones where they fit, as a classic file has them.
      Bytes narrow(field.value.size() / 2);
      bool fits = true;
      for (std::size_t i = 0; i < entry.count && fits; ++i) {
        const std::uint64_t v = Number(field.value.data() + 8 * i, 8);
        fits = entry.type == kTypeLong8 ? v <= 0xFFFFFFFFull
                                        : static_cast<std::int64_t>(v) == static_cast<std::int32_t>(v);
        put.U32(narrow, 4 * i, static_cast<std::uint32_t>(v));
      }
      if (!fits) continue;
      field.type = entry.type == kTypeLong8 ? kTypeLong : 9;
      field.value.swap(narrow);
    }
    fields.push_back(std::move(field));
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
