// TIFF page files for test storages: single- and multi-page files in the compressions the
// image library reads, pages with simple synthetic content, and damaged files.
//
// The writer lays a file out as header, then per page its directory followed by its
// strips, so that a file cut inside a page's image data still has that page's directory.
// None, PackBits, LZW, CCITT G3 (one-dimensional) and CCITT G4 are encoded here on every
// target. JPEG is written by libtiff on Linux (its own layout: each page's data ahead of
// its directory) and on Windows as one complete JPEG stream per page, encoded by the
// Windows Imaging Component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace esproduce {

using Bytes = std::vector<std::uint8_t>;

enum class Compression { None, Lzw, PackBits, CcittG3, CcittG4, Jpeg };

enum class PixelKind {
  Bitonal,  // 1 bit per pixel, most significant bit first, a set bit is black
  Gray8,    // 1 byte per pixel, 0 is black
  Rgb24,    // 3 bytes per pixel, red, green, blue
};

// One page's pixels, rows top to bottom, each row padded to a whole byte.
struct PageImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t xDpi = 300;
  std::uint32_t yDpi = 300;
  PixelKind kind = PixelKind::Bitonal;
  Bytes pixels;

  std::size_t RowBytes() const;
  // Whether the pixel is black (bitonal) or its gray value / red, green, blue values.
  bool IsBlack(std::uint32_t x, std::uint32_t y) const;
  std::uint8_t Sample(std::uint32_t x, std::uint32_t y, unsigned channel) const;
};

// A white bitonal page with a frame, a few black blocks, `pageNumber` small squares in a
// row near the top, and a band of rows whose black and white runs take every length up
// to the page width (exercises the run-length codes of the CCITT encoders).
PageImage MakeBitonalPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                          std::uint32_t pageNumber);
// Smooth gradients with a few solid blocks; suits JPEG.
PageImage MakeGrayPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                       std::uint32_t pageNumber);
PageImage MakeRgbPage(std::uint32_t width, std::uint32_t height, std::uint32_t dpi,
                      std::uint32_t pageNumber);

// "none", "lzw", "packbits", "g3", "g4", "jpeg".
const char* CompressionName(Compression compression);
std::optional<Compression> ParseCompression(std::string_view name);

// Whether this build of the kit writes the compression.
bool CanWrite(Compression compression);
// Whether the compression applies to pages of that kind: CCITT needs bitonal pages,
// JPEG gray or colour pages; the others take every kind.
bool Suits(Compression compression, PixelKind kind);

// The whole file. Every page is written with the same compression. On failure (no
// pages, a page whose pixels do not match its size, a compression that does not suit a
// page or that this build cannot write) returns an empty vector and says why.
Bytes MakeTiff(const std::vector<PageImage>& pages, Compression compression, std::string* error);

// Damage to a well-formed file, as a broken producer or a full disk would leave it.
enum class Damage {
  CutInImageData,      // ends in the middle of the last strip of page `page`
  CutInDirectory,      // ends in the middle of the entries of page `page`'s directory
  BadMagic,            // the byte-order mark and version are not those of a TIFF file
  DirectoryBeyondEnd,  // the offset leading to page `page`'s directory points past the end
  DirectoryLoop,       // the last directory links back to the first one
};
// Applies the damage to `tiff` in place. Fails (and says why) when the file cannot be
// parsed or has no page `page`.
bool DamageTiff(Bytes* tiff, Damage damage, std::size_t page, std::string* error);

}  // namespace esproduce
