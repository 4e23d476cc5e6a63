#include "TiffWriter.h"

#include "TiffTags.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "TiffEncoders.h"

#ifdef ESPRODUCE_WITH_LIBTIFF
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#endif

namespace esproduce {
namespace {

constexpr std::uint32_t kMaxSide = 1u << 20;

using namespace tifftag;

std::uint16_t CompressionCode(Compression c) {
  switch (c) {
    case Compression::None: return 1;
    case Compression::CcittG3: return 3;
    case Compression::CcittG4: return 4;
    case Compression::Lzw: return 5;
    case Compression::Jpeg: return 7;
    case Compression::PackBits: return 32773;
  }
  return 1;
}

unsigned SamplesOf(PixelKind kind) { return kind == PixelKind::Rgb24 ? 3 : 1; }

// ---- Synthetic content ------------------------------------------------------------

PageImage Blank(std::uint32_t width, std::uint32_t height, std::uint32_t dpi, PixelKind kind,
                std::uint8_t fill) {
  PageImage page;
  page.width = width;
  page.height = height;
  page.xDpi = dpi;
  page.yDpi = dpi;
  page.kind = kind;
  page.pixels.assign(page.RowBytes() * height, fill);
  return page;
}

// Fills [x0, x1) x [y0, y1), clipped to the page, with black (bitonal) or the colour.
void FillRect(PageImage& page, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
              std::uint32_t y1, std::uint8_t r = 0, std::uint8_t g = 0, std::uint8_t b = 0) {
  x1 = std::min(x1, page.width);
  y1 = std::min(y1, page.height);
  const std::size_t rowBytes = page.RowBytes();
  for (std::uint32_t y = y0; y < y1; ++y) {
    std::uint8_t* row = page.pixels.data() + y * rowBytes;
    for (std::uint32_t x = x0; x < x1; ++x) {
      switch (page.kind) {
        case PixelKind::Bitonal: row[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7)); break;
        case PixelKind::Gray8: row[x] = r; break;
        case PixelKind::Rgb24:
          row[3 * x] = r;
          row[3 * x + 1] = g;
          row[3 * x + 2] = b;
          break;
      }
    }
  }
}

// Frame, blocks and page-number squares, common to every kind of page.
void DrawLayout(PageImage& page, std::uint32_t dpi, std::uint32_t pageNumber) {
  const std::uint32_t w = page.width;
  const std::uint32_t h = page.height;
  const std::uint32_t margin = std::max(1u, dpi / 4);
  const std::uint32_t line = std::max(1u, dpi / 50);
  if (w > 2 * (margin + line) && h > 2 * (margin + line)) {
    FillRect(page, margin, margin, w - margin, margin + line);
    FillRect(page, margin, h - margin - line, w - margin, h - margin);
    FillRect(page, margin, margin, margin + line, h - margin);
    FillRect(page, w - margin - line, margin, w - margin, h - margin);
  }
  FillRect(page, w * 15 / 100, h * 20 / 100, w * 45 / 100, h * 30 / 100);
  FillRect(page, w * 55 / 100, h * 35 / 100, w * 85 / 100, h * 50 / 100);
  FillRect(page, w * 20 / 100, h * 55 / 100, w * 30 / 100, h * 65 / 100);
  const std::uint32_t square = std::max(2u, dpi / 10);
  const std::uint32_t top = margin + 2 * line + square / 2;
  for (std::uint32_t i = 0; i < pageNumber; ++i) {
    const std::uint32_t left = margin + 2 * line + square + i * 2 * square;
    if (left + square + margin >= w || top + square >= h) break;
    FillRect(page, left, top, left + square, top + square);
  }
}

// ---- Our own file layout ----------------------------------------------------------

void Put16(Bytes& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Field {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  Bytes value;  // little-endian
};

Field Shorts(std::uint16_t tag, std::initializer_list<std::uint16_t> values) {
  Field f{tag, kTypeShort, static_cast<std::uint32_t>(values.size()), Bytes(values.size() * 2)};
  std::size_t i = 0;
  for (const std::uint16_t v : values) Put16(f.value, 2 * i++, v);
  return f;
}
Field Longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
  Field f{tag, kTypeLong, static_cast<std::uint32_t>(values.size()), Bytes(values.size() * 4)};
  for (std::size_t i = 0; i < values.size(); ++i) Put32(f.value, 4 * i, values[i]);
  return f;
}
Field Rational(std::uint16_t tag, std::uint32_t numerator) {
  Field f{tag, kTypeRational, 1, Bytes(8)};
  Put32(f.value, 0, numerator);
  Put32(f.value, 4, 1);
  return f;
}

bool EncodeStrips(const PageImage& page, Compression c, std::uint32_t rowsPerStrip,
                  std::vector<Bytes>* out, std::uint16_t subsampling[2], std::string* error) {
  const std::size_t rowBytes = page.RowBytes();
  std::vector<Bytes>& strips = *out;
#ifdef _WIN32
  if (c == Compression::Jpeg) {
    strips.emplace_back();
    return tiffcodec::JpegStream(page.pixels.data(), page.width, page.height, page.kind == PixelKind::Rgb24,
                                 &strips.back(), subsampling, error);
  }
#endif
  for (std::uint32_t y = 0; y < page.height; y += rowsPerStrip) {
    const std::uint32_t rows = std::min(rowsPerStrip, page.height - y);
    const std::uint8_t* data = page.pixels.data() + y * rowBytes;
    switch (c) {
      case Compression::None: strips.emplace_back(data, data + rows * rowBytes); break;
      case Compression::PackBits: strips.push_back(tiffcodec::PackBits(data, rowBytes, rows)); break;
      case Compression::Lzw: strips.push_back(tiffcodec::Lzw(data, rows * rowBytes)); break;
      case Compression::CcittG3:
        strips.push_back(tiffcodec::CcittG3(data, rowBytes, page.width, rows));
        break;
      case Compression::CcittG4:
        strips.push_back(tiffcodec::CcittG4(data, rowBytes, page.width, rows));
        break;
      case Compression::Jpeg: break;  // one strip, above
    }
  }
  return true;
}

// Header, then per page its directory, the directory's longer values and the strips.
// A JPEG page is one strip holding a complete JPEG stream.
Bytes WriteOwnLayout(const std::vector<PageImage>& pages, Compression c, std::string* error) {
  Bytes out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  std::size_t link = 4;  // where the offset of the next directory goes
  const bool multiPage = pages.size() > 1;
  for (std::size_t index = 0; index < pages.size(); ++index) {
    const PageImage& page = pages[index];
    const std::size_t rowBytes = page.RowBytes();
    const std::uint32_t rowsPerStrip = c == Compression::Jpeg
        ? page.height
        : static_cast<std::uint32_t>(std::clamp<std::size_t>(65536 / rowBytes, 1, page.height));
    std::vector<Bytes> strips;
    std::uint16_t subsampling[2] = {2, 2};
    if (!EncodeStrips(page, c, rowsPerStrip, &strips, subsampling, error)) return {};
    const unsigned samples = SamplesOf(page.kind);
    const std::uint16_t bits = page.kind == PixelKind::Bitonal ? 1 : 8;
    const bool ycbcr = c == Compression::Jpeg && page.kind == PixelKind::Rgb24;
    const std::uint16_t photometric =
        page.kind == PixelKind::Bitonal ? 0 : page.kind == PixelKind::Gray8 ? 1 : ycbcr ? 6 : 2;

    std::vector<std::uint32_t> counts;
    for (const Bytes& strip : strips) counts.push_back(static_cast<std::uint32_t>(strip.size()));
    std::vector<Field> fields;
    fields.push_back(Longs(kNewSubfileType, {multiPage ? 2u : 0u}));
    fields.push_back(Longs(kWidth, {page.width}));
    fields.push_back(Longs(kHeight, {page.height}));
    fields.push_back(samples == 3 ? Shorts(kBitsPerSample, {bits, bits, bits})
                                  : Shorts(kBitsPerSample, {bits}));
    fields.push_back(Shorts(kCompression, {CompressionCode(c)}));
    fields.push_back(Shorts(kPhotometric, {photometric}));
    fields.push_back(Longs(kStripOffsets, std::vector<std::uint32_t>(strips.size())));
    fields.push_back(Shorts(kSamplesPerPixel, {static_cast<std::uint16_t>(samples)}));
    fields.push_back(Longs(kRowsPerStrip, {rowsPerStrip}));
    fields.push_back(Longs(kStripByteCounts, counts));
    fields.push_back(Rational(kXResolution, page.xDpi));
    fields.push_back(Rational(kYResolution, page.yDpi));
    fields.push_back(Shorts(kPlanarConfig, {1}));
    if (c == Compression::CcittG3) fields.push_back(Longs(kT4Options, {0}));
    if (c == Compression::CcittG4) fields.push_back(Longs(kT6Options, {0}));
    fields.push_back(Shorts(kResolutionUnit, {2}));
    if (multiPage) {
      fields.push_back(Shorts(kPageNumber, {static_cast<std::uint16_t>(index),
                                               static_cast<std::uint16_t>(pages.size())}));
    }
    if (ycbcr) fields.push_back(Shorts(kYCbCrSubsampling, {subsampling[0], subsampling[1]}));

    if (out.size() % 2) out.push_back(0);
    const std::size_t ifd = out.size();
    Put32(out, link, static_cast<std::uint32_t>(ifd));
    std::size_t values = ifd + 2 + 12 * fields.size() + 4;
    std::vector<std::size_t> valueAt(fields.size(), 0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].value.size() > 4) {
        valueAt[i] = values;
        values += (fields[i].value.size() + 1) & ~std::size_t{1};
      }
    }
    // The strips follow the values; now their offsets are known.
    std::size_t data = values;
    for (Field& f : fields) {
      if (f.tag != kStripOffsets) continue;
      for (std::size_t s = 0; s < strips.size(); ++s) {
        Put32(f.value, 4 * s, static_cast<std::uint32_t>(data));
        data += strips[s].size();
      }
    }
    out.resize(values, 0);
    Put16(out, ifd, static_cast<std::uint16_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::size_t entry = ifd + 2 + 12 * i;
      Put16(out, entry, fields[i].tag);
      Put16(out, entry + 2, fields[i].type);
      Put32(out, entry + 4, fields[i].count);
      if (valueAt[i] != 0) {
        Put32(out, entry + 8, static_cast<std::uint32_t>(valueAt[i]));
        std::copy(fields[i].value.begin(), fields[i].value.end(), out.begin() + valueAt[i]);
      } else {
        std::copy(fields[i].value.begin(), fields[i].value.end(), out.begin() + entry + 8);
      }
    }
    link = ifd + 2 + 12 * fields.size();
    for (const Bytes& strip : strips) out.insert(out.end(), strip.begin(), strip.end());
  }
  return out;
}

#ifdef ESPRODUCE_WITH_LIBTIFF
// ---- JPEG through libtiff, into memory ----------------------------------------------

struct MemoryFile {
  Bytes data;
  std::uint64_t position = 0;
  std::string error;
};

tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<MemoryFile*>(h);
  if (size < 0 || f->position >= f->data.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), f->data.size() - f->position);
  std::memcpy(buffer, f->data.data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t MemWrite(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<MemoryFile*>(h);
  if (size < 0) return -1;
  const std::uint64_t end = f->position + static_cast<std::uint64_t>(size);
  if (end > f->data.size()) f->data.resize(end);
  std::memcpy(f->data.data() + f->position, buffer, static_cast<std::size_t>(size));
  f->position = end;
  return size;
}
toff_t MemSeek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<std::int64_t>(f->position);
  if (whence == SEEK_END) base = static_cast<std::int64_t>(f->data.size());
  const std::int64_t target = base + static_cast<std::int64_t>(offset);
  if (target < 0) return static_cast<toff_t>(-1);
  f->position = static_cast<std::uint64_t>(target);
  return f->position;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemoryFile*>(h)->data.size(); }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* f = static_cast<MemoryFile*>(user);
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  if (f->error.empty()) f->error = std::string(module ? module : "libtiff") + ": " + text;
  return 1;
}
int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

Bytes WriteWithLibtiff(const std::vector<PageImage>& pages, std::string* error) {
  MemoryFile file;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
  TIFF* tif = TIFFClientOpenExt("memory", "w", &file, MemRead, MemWrite, MemSeek, MemClose,
                                MemSize, MemMap, MemUnmap, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    *error = "libtiff cannot start a file: " + file.error;
    return {};
  }
  constexpr std::uint32_t kRowsPerStrip = 64;  // a multiple of the 16-row JPEG block band
  bool ok = true;
  for (std::size_t index = 0; ok && index < pages.size(); ++index) {
    const PageImage& page = pages[index];
    const bool rgb = page.kind == PixelKind::Rgb24;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, rgb ? 3 : 1);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 80);
    if (rgb) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.xDpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(page.yDpi));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (pages.size() > 1) {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(index),
                   static_cast<std::uint16_t>(pages.size()));
    }
    const std::size_t rowBytes = page.RowBytes();
    for (std::uint32_t y = 0, strip = 0; ok && y < page.height; y += kRowsPerStrip, ++strip) {
      const std::uint32_t rows = std::min(kRowsPerStrip, page.height - y);
      auto* data = const_cast<std::uint8_t*>(page.pixels.data() + y * rowBytes);
      ok = TIFFWriteEncodedStrip(tif, strip, data, static_cast<tmsize_t>(rows * rowBytes)) >= 0;
    }
    ok = ok && TIFFWriteDirectory(tif) != 0;
  }
  TIFFClose(tif);
  if (!ok) {
    *error = "libtiff cannot write the JPEG pages: " + file.error;
    return {};
  }
  return std::move(file.data);
}
#endif

// ---- Reading a written file back, for damage --------------------------------------

class Parsed {
 public:
  bool Parse(const Bytes& tiff, std::string* error) {
    data_ = &tiff;
    if (tiff.size() < 8 || !((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M'))) {
      *error = "not a TIFF file";
      return false;
    }
    big_ = tiff[0] == 'M';
    if (U16(2) != 42) {
      *error = "not a classic TIFF file";
      return false;
    }
    std::set<std::uint64_t> seen;
    std::uint64_t link = 4;
    for (std::uint64_t ifd = U32(4); ifd != 0 && seen.insert(ifd).second; ifd = U32(link)) {
      if (ifd + 2 > tiff.size()) break;
      link = ifd + 2 + 12 * std::uint64_t{U16(ifd)};
      if (link + 4 > tiff.size()) break;
      directories.push_back(ifd);
      links.push_back(link);
    }
    return true;
  }
  std::uint32_t U16(std::uint64_t at) const {
    const Bytes& d = *data_;
    return big_ ? (d[at] << 8 | d[at + 1]) : (d[at + 1] << 8 | d[at]);
  }
  std::uint32_t U32(std::uint64_t at) const {
    return big_ ? (U16(at) << 16 | U16(at + 2)) : (U16(at + 2) << 16 | U16(at));
  }
  void Set32(Bytes& tiff, std::uint64_t at, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i) {
      tiff[at + (big_ ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }
  // Values of a SHORT or LONG array entry of directory `ifd`.
  std::vector<std::uint64_t> Values(std::uint64_t ifd, std::uint16_t tag) const {
    std::vector<std::uint64_t> values;
    const std::uint32_t n = U16(ifd);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t entry = ifd + 2 + 12 * std::uint64_t{i};
      if (U16(entry) != tag) continue;
      const std::uint32_t type = U16(entry + 2);
      const std::uint64_t count = U32(entry + 4);
      const unsigned size = type == kTypeShort ? 2 : 4;
      const std::uint64_t at = count * size <= 4 ? entry + 8 : U32(entry + 8);
      if (at + count * size > data_->size()) return {};
      for (std::uint64_t k = 0; k < count; ++k) {
        values.push_back(size == 2 ? U16(at + 2 * k) : U32(at + 4 * k));
      }
    }
    return values;
  }

  std::vector<std::uint64_t> directories;
  std::vector<std::uint64_t> links;  // where each directory's link to the next sits

 private:
  const Bytes* data_ = nullptr;
  bool big_ = false;
};

}  // namespace

std::size_t PageImage::RowBytes() const {
  switch (kind) {
    case PixelKind::Bitonal: return (static_cast<std::size_t>(width) + 7) / 8;
    case PixelKind::Gray8: return width;
    case PixelKind::Rgb24: return 3 * static_cast<std::size_t>(width);
  }
  return 0;
}

bool PageImage::IsBlack(std::uint32_t x, std::uint32_t y) const {
  const std::uint8_t* row = pixels.data() + y * RowBytes();
  switch (kind) {
    case PixelKind::Bitonal: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case PixelKind::Gray8: return row[x] < 128;
    case PixelKind::Rgb24: return row[3 * x] < 128 && row[3 * x + 1] < 128 && row[3 * x + 2] < 128;
  }
  return false;
}

std::uint8_t PageImage::Sample(std::uint32_t x, std::uint32_t y, unsigned channel) const {
  const std::uint8_t* row = pixels.data() + y * RowBytes();
  switch (kind) {
    case PixelKind::Bitonal: return IsBlack(x, y) ? 0 : 255;
    case PixelKind::Gray8: return row[x];
    case PixelKind::Rgb24: return row[3 * x + std::min(channel, 2u)];
  }
  return 0;
}

PageImage MakeBitonalPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                          std::uint32_t pageNumber) {
  PageImage page = Blank(width, height, dpi, PixelKind::Bitonal, 0);
  DrawLayout(page, dpi, pageNumber);
  // A band of rows with runs of many lengths, up to the whole inner width.
  const std::uint32_t margin = std::max(1u, dpi / 4) + std::max(1u, dpi / 50) + 1;
  if (width <= 2 * margin + 2) return page;
  const std::uint32_t left = margin;
  const std::uint32_t right = width - margin;
  for (std::uint32_t y = height * 70 / 100, i = 0; y < height * 90 / 100; ++y, ++i) {
    bool black = i % 2 == 1;
    std::uint32_t x = left;
    for (std::uint32_t k = 0; x < right; ++k) {
      const std::uint32_t span = k % 3 == 0 ? right - left : 97;
      const std::uint32_t length = 1 + (i * 131 + k * 977) % span;
      if (black) FillRect(page, x, y, std::min(x + length, right), y + 1);
      x += length;
      black = !black;
    }
  }
  return page;
}

PageImage MakeGrayPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                       std::uint32_t pageNumber) {
  PageImage page = Blank(width, height, dpi, PixelKind::Gray8, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      page.pixels[y * page.RowBytes() + x] =
          static_cast<std::uint8_t>((x * 255ull / width + y * 255ull / height) / 2);
    }
  }
  DrawLayout(page, dpi, pageNumber);
  FillRect(page, width * 60 / 100, height * 70 / 100, width * 80 / 100, height * 80 / 100, 255);
  return page;
}

PageImage MakeRgbPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                      std::uint32_t pageNumber) {
  PageImage page = Blank(width, height, dpi, PixelKind::Rgb24, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = page.pixels.data() + y * page.RowBytes();
    for (std::uint32_t x = 0; x < width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 255ull / width);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255ull / height);
      row[3 * x + 2] = 160;
    }
  }
  DrawLayout(page, dpi, pageNumber);
  FillRect(page, width * 60 / 100, height * 70 / 100, width * 80 / 100, height * 80 / 100, 220, 30, 30);
  return page;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::None: return "none";
    case Compression::Lzw: return "lzw";
    case Compression::PackBits: return "packbits";
    case Compression::CcittG3: return "g3";
    case Compression::CcittG4: return "g4";
    case Compression::Jpeg: return "jpeg";
  }
  return "?";
}

std::optional<Compression> ParseCompression(std::string_view name) {
  for (const Compression c : {Compression::None, Compression::Lzw, Compression::PackBits,
                              Compression::CcittG3, Compression::CcittG4, Compression::Jpeg}) {
    if (name == CompressionName(c)) return c;
  }
  return std::nullopt;
}

bool CanWrite(Compression compression) {
#if defined(ESPRODUCE_WITH_LIBTIFF) || defined(_WIN32)
  return true;
#else
  return compression != Compression::Jpeg;
#endif
}

bool Suits(Compression compression, PixelKind kind) {
  switch (compression) {
    case Compression::CcittG3:
    case Compression::CcittG4: return kind == PixelKind::Bitonal;
    case Compression::Jpeg: return kind != PixelKind::Bitonal;
    default: return true;
  }
}

Bytes MakeTiff(const std::vector<PageImage>& pages, Compression compression, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (pages.empty()) {
    *error = "a TIFF file needs at least one page";
    return {};
  }
  if (pages.size() > 0xFFFF) {
    *error = "too many pages for one TIFF file";
    return {};
  }
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const PageImage& page = pages[i];
    const std::string which = "page " + std::to_string(i + 1);
    if (page.width == 0 || page.height == 0 || page.width > kMaxSide || page.height > kMaxSide) {
      *error = which + ": width and height must be between 1 and " + std::to_string(kMaxSide);
      return {};
    }
    if (page.xDpi == 0 || page.yDpi == 0) {
      *error = which + ": the resolution must not be 0";
      return {};
    }
    if (page.pixels.size() != page.RowBytes() * page.height) {
      *error = which + ": the pixels do not match the page size";
      return {};
    }
    if (!Suits(compression, page.kind)) {
      *error = which + ": compression " + CompressionName(compression) + " does not suit " +
               (page.kind == PixelKind::Bitonal ? "bitonal" : "gray or colour") + " pages";
      return {};
    }
  }
  if (!CanWrite(compression)) {
    *error = std::string("compression ") + CompressionName(compression) +
             " is not available in this build (it needs libtiff or the Windows Imaging Component)";
    return {};
  }
#ifdef ESPRODUCE_WITH_LIBTIFF
  if (compression == Compression::Jpeg) return WriteWithLibtiff(pages, error);
#endif
  return WriteOwnLayout(pages, compression, error);
}

bool DamageTiff(Bytes* tiff, Damage damage, std::size_t page, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  Parsed parsed;
  if (!parsed.Parse(*tiff, error)) return false;
  if (damage == Damage::BadMagic) {
    (*tiff)[0] = 'X';
    (*tiff)[1] = 'X';
    return true;
  }
  if (page >= parsed.directories.size()) {
    *error = "the file has no page " + std::to_string(page + 1);
    return false;
  }
  const std::uint64_t ifd = parsed.directories[page];
  switch (damage) {
    case Damage::CutInImageData: {
      std::vector<std::uint64_t> offsets = parsed.Values(ifd, kStripOffsets);
      std::vector<std::uint64_t> counts = parsed.Values(ifd, kStripByteCounts);
      if (offsets.empty()) {
        offsets = parsed.Values(ifd, kTileOffsets);
        counts = parsed.Values(ifd, kTileByteCounts);
      }
      if (offsets.empty() || offsets.size() != counts.size()) {
        *error = "page " + std::to_string(page + 1) + " has no image data to cut";
        return false;
      }
      std::size_t last = 0;
      for (std::size_t i = 1; i < offsets.size(); ++i) {
        if (offsets[i] + counts[i] > offsets[last] + counts[last]) last = i;
      }
      tiff->resize(offsets[last] + counts[last] / 2);
      return true;
    }
    case Damage::CutInDirectory:
      tiff->resize(ifd + 2 + 12 * ((parsed.links[page] - ifd - 2) / 12 / 2) + 5);
      return true;
    case Damage::DirectoryBeyondEnd: {
      const std::uint64_t link = page == 0 ? 4 : parsed.links[page - 1];
      parsed.Set32(*tiff, link, static_cast<std::uint32_t>(tiff->size() + 4096));
      return true;
    }
    case Damage::DirectoryLoop:
      parsed.Set32(*tiff, parsed.links.back(), static_cast<std::uint32_t>(parsed.directories.front()));
      return true;
    case Damage::BadMagic: break;
  }
  return true;
}

}  // namespace esproduce
