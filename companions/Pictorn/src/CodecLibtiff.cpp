// The codec on Linux: libtiff, reading from memory, its messages kept per file.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "Codec.h"
#include "Convert.h"
#include "Pictorn.h"

namespace pictorn {
namespace {

struct MemoryFile {
  const Bytes* bytes;
  std::uint64_t position = 0;
  std::string error;
};

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<MemoryFile*>(h);
  const std::uint64_t total = f->bytes->size();
  if (size <= 0 || f->position >= total) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), total - f->position);
  std::memcpy(buffer, f->bytes->data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f->position;
  if (whence == SEEK_END) base = f->bytes->size();
  const std::uint64_t target = base + offset;  // libtiff passes offsets that wrap for negatives
  if (target > f->bytes->size()) return static_cast<toff_t>(-1);
  f->position = target;
  return target;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<MemoryFile*>(h)->bytes->size(); }
int MapProc(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<MemoryFile*>(h);
  *base = const_cast<std::uint8_t*>(f->bytes->data());
  *size = f->bytes->size();
  return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* f = static_cast<std::string*>(user);
  if (f->empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    *f = std::string("libtiff: ") + (module ? module : "") + ": " + text;
  }
  return 1;
}
int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Closer {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, Closer>;

// Opens with per-file message handlers (libtiff's own would print to stderr) and a cap on
// single allocations, as corrupt directories may ask for anything.
TiffPtr Open(MemoryFile& file) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &file.error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kPictornMaxPageBytes + kMaxWorkBytes));
  TIFF* tif = TIFFClientOpenExt("page", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc,
                                SizeProc, MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffPtr(tif);
}

std::string Reason(const std::string& error, const char* fallback) { return error.empty() ? fallback : error; }
std::string Reason(const MemoryFile& file, const char* fallback) { return Reason(file.error, fallback); }

// Decoded rows, handed to `row` top to bottom with one pointer per plane.
using RowSink = std::function<void(std::uint32_t y, const std::uint8_t* const* planes)>;

bool ReadRows(TIFF* tif, const TiffPage& page, const SampleLayout& layout, MemoryFile& file, const RowSink& row,
              std::string* why) {
  const std::uint32_t planes = layout.separate ? layout.samples : 1;
  const std::uint64_t pixelBits = std::uint64_t{layout.bits} * (layout.separate ? 1 : layout.samples);
  const std::uint64_t rowBytes = (page.width * pixelBits + 7) / 8;
  std::vector<const std::uint8_t*> at(planes);
  if (!page.tiled && !layout.separate) {
    if (static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) != rowBytes) {
      *why = "the image's rows have an unexpected size";
      return false;
    }
    Bytes buffer(rowBytes);
    at[0] = buffer.data();
    for (std::uint32_t y = 0; y < page.height; ++y) {
      if (TIFFReadScanline(tif, buffer.data(), y, 0) < 0) {
        *why = Reason(file, "a row of the image cannot be decoded");
        return false;
      }
      row(y, at.data());
    }
    return true;
  }
  if (!page.tiled) {
    // One strip of each plane at a time.
    std::uint32_t rowsPerStrip = page.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, page.height);
    const std::uint64_t stripBytes = rowBytes * rowsPerStrip;
    if (stripBytes * planes > kMaxWorkBytes) {
      *why = "planar strips of " + std::to_string(stripBytes) + " bytes are too large to be decoded";
      return false;
    }
    const std::uint32_t stripsPerPlane = (page.height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<Bytes> band(planes, Bytes(stripBytes));
    for (std::uint32_t s = 0; s < stripsPerPlane; ++s) {
      const std::uint32_t first = s * rowsPerStrip;
      const std::uint32_t rows = std::min(rowsPerStrip, page.height - first);
      for (std::uint32_t p = 0; p < planes; ++p) {
        const tmsize_t want = static_cast<tmsize_t>(rows * rowBytes);
        if (TIFFReadEncodedStrip(tif, p * stripsPerPlane + s, band[p].data(), want) < want) {
          *why = Reason(file, "a strip of the image cannot be decoded");
          return false;
        }
      }
      for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t p = 0; p < planes; ++p) at[p] = band[p].data() + r * rowBytes;
        row(first + r, at.data());
      }
    }
    return true;
  }
  // Tiles: one row of tiles of each plane at a time.
  std::uint32_t tileWidth = 0;
  std::uint32_t tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  const std::uint64_t tileRowBits = std::uint64_t{tileWidth} * pixelBits;
  if (tileWidth == 0 || tileLength == 0 || tileRowBits % 8 != 0 ||
      static_cast<std::uint64_t>(TIFFTileRowSize64(tif)) != tileRowBits / 8) {
    *why = "the image's tiles have an unexpected size";
    return false;
  }
  const std::uint64_t tileRowBytes = tileRowBits / 8;
  const std::uint32_t across = (page.width + tileWidth - 1) / tileWidth;
  const std::uint64_t bandRowBytes = tileRowBytes * across;
  const std::uint64_t tileBytes = tileRowBytes * tileLength;
  if ((bandRowBytes * tileLength * planes + tileBytes) > kMaxWorkBytes) {
    *why = "tiles of " + std::to_string(tileWidth) + " x " + std::to_string(tileLength) + " pixels are too large to be decoded";
    return false;
  }
  std::vector<Bytes> band(planes, Bytes(bandRowBytes * tileLength));
  Bytes tile(tileBytes);
  for (std::uint32_t top = 0; top < page.height; top += tileLength) {
    for (std::uint32_t p = 0; p < planes; ++p) {
      for (std::uint32_t t = 0; t < across; ++t) {
        const ttile_t index = TIFFComputeTile(tif, t * tileWidth, top, 0, static_cast<std::uint16_t>(p));
        if (TIFFReadEncodedTile(tif, index, tile.data(), static_cast<tmsize_t>(tileBytes)) < 0) {
          *why = Reason(file, "a tile of the image cannot be decoded");
          return false;
        }
        for (std::uint32_t r = 0; r < tileLength; ++r) {
          std::memcpy(band[p].data() + r * bandRowBytes + t * tileRowBytes, tile.data() + r * tileRowBytes, tileRowBytes);
        }
      }
    }
    const std::uint32_t rows = std::min(tileLength, page.height - top);
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint32_t p = 0; p < planes; ++p) at[p] = band[p].data() + r * bandRowBytes;
      row(top + r, at.data());
    }
  }
  return true;
}

// A file being written in memory.
struct GrowingFile {
  Bytes data;
  std::uint64_t position = 0;
  std::string error;
};

tmsize_t GrowRead(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<GrowingFile*>(h);
  if (size <= 0 || f->position >= f->data.size()) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), f->data.size() - f->position);
  std::memcpy(buffer, f->data.data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t GrowWrite(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<GrowingFile*>(h);
  if (size < 0) return -1;
  const std::uint64_t end = f->position + static_cast<std::uint64_t>(size);
  if (end > 0xFFFFFFFFull) return -1;  // a classic TIFF file ends before 4 GiB
  if (end > f->data.size()) f->data.resize(end);
  if (size > 0) std::memcpy(f->data.data() + f->position, buffer, static_cast<std::size_t>(size));
  f->position = end;
  return size;
}
toff_t GrowSeek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<GrowingFile*>(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f->position;
  if (whence == SEEK_END) base = f->data.size();
  const std::uint64_t target = base + offset;
  if (target > 0xFFFFFFFFull) return static_cast<toff_t>(-1);
  f->position = target;
  return target;
}
toff_t GrowSize(thandle_t h) { return static_cast<GrowingFile*>(h)->data.size(); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }

}  // namespace

bool CodecDecode(const Bytes& bytes, const TiffPage& page, bool keep, Pixels* pixels, std::string* why) {
  const std::uint32_t format = PageFormat(page, why);
  if (format == 0) return false;
  if (std::uint64_t{page.width} * page.height > kPictornMaxPagePixels) {
    *why = std::to_string(page.width) + " x " + std::to_string(page.height) + " pixels, more than the " +
           std::to_string(kPictornMaxPagePixels) + " a page may have";
    return false;
  }
  MemoryFile file{&bytes, 0, {}};
  const TiffPtr tif = Open(file);
  if (!tif) {
    *why = Reason(file, "libtiff cannot read the image directory");
    return false;
  }
  if (!TIFFIsCODECConfigured(static_cast<std::uint16_t>(page.compression))) {
    *why = "compression " + std::to_string(page.compression) + " is not supported";
    return false;
  }
  if (page.photometric == 6 && !TIFFSetField(tif.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) {
    *why = "JPEG's YCbCr cannot be turned into RGB";
    return false;
  }
  const SampleLayout layout = LayoutOf(page);
  if (!Allocate(pixels, page.width, page.height, format, keep)) {
    *why = "out of memory";
    return false;
  }
  if (!keep) return ReadRows(tif.get(), page, layout, file, [](std::uint32_t, const std::uint8_t* const*) {}, why);
  RowConverter converter(layout, page.width, format);
  if (converter.NeedsRange()) {
    const auto see = [&](std::uint32_t, const std::uint8_t* const* planes) { converter.See(planes); };
    if (!ReadRows(tif.get(), page, layout, file, see, why)) return false;
    converter.RangeSeen();
  }
  const auto convert = [&](std::uint32_t y, const std::uint8_t* const* planes) {
    converter.Convert(planes, pixels->data.data() + std::uint64_t{y} * pixels->stride);
  };
  return ReadRows(tif.get(), page, layout, file, convert, why);
}

bool CodecEncode(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi, Bytes* out, std::string* why) {
  GrowingFile file;
  // Room for the encoding without moving it (untouched room costs no memory).
  file.data.reserve(pixels.data.size() + pixels.data.size() / 2 + 65536);
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) {
    *why = "out of memory";
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &file.error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
  TiffPtr tif(TIFFClientOpenExt("page", "w", &file, GrowRead, GrowWrite, GrowSeek, CloseProc, GrowSize, NoMap,
                                UnmapProc, options));
  TIFFOpenOptionsFree(options);
  if (!tif) {
    *why = Reason(file.error, "libtiff cannot start a file");
    return false;
  }
  TIFF* t = tif.get();
  const bool bitonal = pixels.format == 1;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, pixels.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, pixels.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bitonal ? 1 : 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, pixels.format == 24 ? 3 : 1);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bitonal ? PHOTOMETRIC_MINISWHITE
                                       : pixels.format == 8 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_COMPRESSION, bitonal ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
  if (!bitonal) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(xDpi));
  TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(yDpi));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  Bytes row(pixels.stride);
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    // libtiff may change the row it is given (the predictor works in place).
    std::memcpy(row.data(), pixels.data.data() + std::uint64_t{y} * pixels.stride, pixels.stride);
    if (TIFFWriteScanline(t, row.data(), y, 0) < 0) {
      *why = Reason(file.error, "the page cannot be encoded");
      return false;
    }
  }
  if (!TIFFWriteDirectory(t)) {
    *why = Reason(file.error, "the page cannot be encoded");
    return false;
  }
  tif.reset();
  out->swap(file.data);
  return true;
}

}  // namespace pictorn
