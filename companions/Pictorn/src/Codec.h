// The platform's image codec: libtiff on Linux, the Windows Imaging Component on Windows.
// It sees single-image TIFF files as TiffFile::ExtractPage makes them.
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
  Bytes data;
};

// Decoded buffers larger than this are refused.
inline constexpr std::uint64_t kMaxPixelBytes = 1ull << 30;

// Whether the codec opens the image: a cheap check of its directory, no pixels.
bool CodecAccepts(const Bytes& file, const TiffPage& page, std::string* why);
// Bitonal images become format 1, other one-sample gray images format 8, the rest 24.
bool CodecDecode(const Bytes& file, const TiffPage& page, Pixels* pixels, std::string* why);
// A single-image TIFF file with the resolution in dots per inch.
bool CodecWrite(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi,
                const std::string& utf8Path, std::string* why);

// The same file in memory.
bool CodecWriteMemory(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi, Bytes* file, std::string* why);

// Sizes a pixel buffer; false when it would exceed kMaxPixelBytes.
bool Allocate(Pixels* pixels, std::uint32_t width, std::uint32_t height, std::uint32_t format);

}  // namespace pictorn
