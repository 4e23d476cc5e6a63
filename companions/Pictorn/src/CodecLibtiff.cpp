// The codec on Linux: libtiff, reading from memory, its messages kept per file.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Codec.h"

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
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPixelBytes));
  TIFF* tif = TIFFClientOpenExt("page", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc,
                                SizeProc, MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffPtr(tif);
}

std::string Reason(const MemoryFile& file, const char* fallback) {
  return file.error.empty() ? fallback : file.error;
}

bool ReadBitonal(TIFF* tif, const TiffPage& page, Pixels* pixels, MemoryFile& file, std::string* why) {
  if (static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) != pixels->stride) {
    *why = "the image's rows have an unexpected size";
    return false;
  }
  std::uint32_t rowsPerStrip = page.height;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, page.height);
  const std::uint32_t strips = TIFFNumberOfStrips(tif);
  for (std::uint32_t s = 0; s < strips; ++s) {
    const std::uint64_t y = std::uint64_t{s} * rowsPerStrip;
    if (y >= page.height) break;
    const std::uint64_t rows = std::min<std::uint64_t>(rowsPerStrip, page.height - y);
    const tmsize_t size = static_cast<tmsize_t>(rows * pixels->stride);
    if (TIFFReadEncodedStrip(tif, s, pixels->data.data() + y * pixels->stride, size) < 0) {
      *why = Reason(file, "a strip of the image cannot be decoded");
      return false;
    }
  }
  std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (photometric == PHOTOMETRIC_MINISBLACK) {
    for (std::uint8_t& b : pixels->data) b = static_cast<std::uint8_t>(~b);
  }
  return true;
}

bool ReadThroughRgba(TIFF* tif, const TiffPage& page, Pixels* pixels, MemoryFile& file, std::string* why) {
  const std::uint64_t count = std::uint64_t{page.width} * page.height;
  if (count * 4 > kMaxPixelBytes) {
    *why = "the image is too large to decode";
    return false;
  }
  std::vector<std::uint32_t> raster(count);
  char message[1024] = "";
  if (!TIFFRGBAImageOK(tif, message)) {
    *why = std::string("libtiff cannot decode the image: ") + message;
    return false;
  }
  if (!TIFFReadRGBAImageOriented(tif, page.width, page.height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
    *why = Reason(file, "the image cannot be decoded");
    return false;
  }
  for (std::uint32_t y = 0; y < page.height; ++y) {
    std::uint8_t* row = pixels->data.data() + std::uint64_t{y} * pixels->stride;
    const std::uint32_t* in = raster.data() + std::uint64_t{y} * page.width;
    for (std::uint32_t x = 0; x < page.width; ++x) {
      const std::uint32_t p = in[x];
      switch (pixels->format) {
        case 1:
          if (TIFFGetR(p) < 128) row[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
          break;
        case 8: row[x] = static_cast<std::uint8_t>(TIFFGetR(p)); break;
        default:
          row[3 * x] = static_cast<std::uint8_t>(TIFFGetR(p));
          row[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(p));
          row[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetB(p));
          break;
      }
    }
  }
  return true;
}

}  // namespace

bool CodecAccepts(const Bytes& bytes, const TiffPage& page, std::string* why) {
  MemoryFile file{&bytes, 0, {}};
  const TiffPtr tif = Open(file);
  if (!tif) {
    *why = Reason(file, "libtiff cannot read the image directory");
    return false;
  }
  if (!TIFFIsCODECConfigured(static_cast<std::uint16_t>(page.compression))) {
    *why = "the image's compression (" + std::to_string(page.compression) + ") is not supported";
    return false;
  }
  return true;
}

bool CodecDecode(const Bytes& bytes, const TiffPage& page, Pixels* pixels, std::string* why) {
  MemoryFile file{&bytes, 0, {}};
  const TiffPtr tif = Open(file);
  if (!tif) {
    *why = Reason(file, "libtiff cannot read the image directory");
    return false;
  }
  const std::uint32_t format = page.IsBitonal() ? 1 : page.IsGray() ? 8 : 24;
  if (!Allocate(pixels, page.width, page.height, format)) {
    *why = "the image is too large to decode";
    return false;
  }
  if (format == 1 && !page.tiled && page.planar == 1) return ReadBitonal(tif.get(), page, pixels, file, why);
  return ReadThroughRgba(tif.get(), page, pixels, file, why);
}

bool CodecWrite(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi,
                const std::string& utf8Path, std::string* why) {
  std::string error;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) {
    *why = "out of memory";
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
  const TiffPtr tif(TIFFOpenExt(utf8Path.c_str(), "w", options));
  TIFFOpenOptionsFree(options);
  if (!tif) {
    *why = "cannot create " + utf8Path + (error.empty() ? "" : ": " + error);
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
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(xDpi));
  TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(yDpi));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    auto* row = const_cast<std::uint8_t*>(pixels.data.data() + std::uint64_t{y} * pixels.stride);
    if (TIFFWriteScanline(t, row, y, 0) < 0) {
      *why = "cannot write " + utf8Path + (error.empty() ? "" : ": " + error);
      return false;
    }
  }
  if (!TIFFWriteDirectory(t)) {
    *why = "cannot finish " + utf8Path + (error.empty() ? "" : ": " + error);
    return false;
  }
  return true;
}

}  // namespace pictorn
