// The platform's image codec: libtiff on Linux, the Windows Imaging Component on Windows.
// It sees single-image classic TIFF files as TiffFile::ExtractPage makes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TiffLayout.h"

namespace pictorn {

// Decoded pixels in one of the formats of PictornPixels (1, 8 or 24).
struct Pixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t format = 0;
  std::uint32_t stride = 0;
  Bytes data;  // all rows, or one row that every row is decoded into (a check only)
};

// Working buffers of one decode (a band of strips or tiles) stay below this.
inline constexpr std::uint64_t kMaxWorkBytes = 32ull << 20;

// Sizes a pixel buffer for all rows (`keep`) or for one; false beyond kPictornMaxPagePixels.
bool Allocate(Pixels* pixels, std::uint32_t width, std::uint32_t height, std::uint32_t format, bool keep = true);

// Decodes the page. With `keep` the pixels stay in `pixels`; without, each row is decoded
// and dropped: a check that the whole page decodes, in bounded memory.
bool CodecDecode(const Bytes& file, const TiffPage& page, bool keep, Pixels* pixels, std::string* why);

// A single-image TIFF file in memory with the resolution in dots per inch: bitonal pages
// CCITT G4, gray and colour LZW.
bool CodecEncode(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi, Bytes* file, std::string* why);

}  // namespace pictorn
