// From decoded samples, as a codec gives them, to the library's pixel formats: the same
// rules on every platform (palettes, CMYK, alpha laid on white paper, 16-bit and
// floating-point samples), so that a page decodes alike wherever it is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Codec.h"
#include "TiffLayout.h"

namespace pictorn {

// A colour map's entries as 8-bit values: 16-bit entries by their high byte (as libtiff
// reads them), or as they are where every entry is below 256 (old writers' 8-bit maps).
std::vector<std::uint8_t> ColourMap8(const std::vector<std::uint16_t>& colormap);

// The format the page is handed over in (1, 8 or 24), or 0 with the reason when the
// library does not read its kind of image.
std::uint32_t PageFormat(const TiffPage& page, std::string* why);

// The page's kind in an operator's words: "planar RGB, 8 bits per sample, PackBits".
std::string Describe(const TiffPage& page);

// How the samples of one decoded row lie: in one plane, pixel after pixel, or in one
// plane per sample. Samples of 16 and more bits are in the machine's byte order.
struct SampleLayout {
  enum class Colour { Gray, Rgb, Bgr, Cmyk, Palette };
  Colour colour = Colour::Gray;
  std::uint32_t samples = 1;     // per pixel, extra samples included
  std::uint32_t bits = 8;        // per sample
  bool floating = false;
  bool minIsWhite = false;
  bool separate = false;         // one plane per sample
  std::int32_t alpha = -1;       // the alpha sample, -1 for none
  bool premultiplied = false;
  std::vector<std::uint8_t> colormap;  // red, green, blue entries (8-bit) for Colour::Palette
};

// The layout a TIFF page's own samples have, where the codec gives them as stored.
SampleLayout LayoutOf(const TiffPage& page);

class RowConverter {
 public:
  RowConverter(const SampleLayout& layout, std::uint32_t width, std::uint32_t format);
  // Floating-point samples are scaled by the range their largest value shows (0 to 1, to
  // 255 or to 65535): every row is seen once before any is converted.
  bool NeedsRange() const { return layout_.floating; }
  void See(const std::uint8_t* const* planes);
  void RangeSeen();
  // Converts one row; `planes` holds one pointer, or one per sample when separate.
  void Convert(const std::uint8_t* const* planes, std::uint8_t* out) const;

 private:
  double Sample(const std::uint8_t* const* planes, std::uint32_t x, std::uint32_t s) const;
  std::uint32_t Raw(const std::uint8_t* const* planes, std::uint32_t x, std::uint32_t s) const;

  SampleLayout layout_;
  std::uint32_t width_;
  std::uint32_t format_;
  double largest_ = 0;
  double scale_ = 255;  // 8-bit value per unit of a floating-point sample
};

}  // namespace pictorn
