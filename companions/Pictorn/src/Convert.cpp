#include "Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pictorn {

std::vector<std::uint8_t> ColourMap8(const std::vector<std::uint16_t>& colormap) {
  const bool eightBit = std::all_of(colormap.begin(), colormap.end(), [](std::uint16_t v) { return v < 256; });
  std::vector<std::uint8_t> out(colormap.size());
  for (std::size_t i = 0; i < colormap.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(eightBit ? colormap[i] : colormap[i] >> 8);
  }
  return out;
}

std::uint32_t PageFormat(const TiffPage& p, std::string* why) {
  const std::string bits = std::to_string(p.bitsPerSample) + " bits per sample";
  if (p.sampleFormat == 3) {
    if (p.bitsPerSample != 32 && p.bitsPerSample != 64) {
      *why = bits + " of floating point are not read";
      return 0;
    }
  } else if (p.sampleFormat == 2) {
    *why = "signed samples are not read";
    return 0;
  } else if (p.sampleFormat != 1 && p.sampleFormat != 4) {
    *why = "sample format " + std::to_string(p.sampleFormat) + " is not read";
    return 0;
  } else if (p.bitsPerSample > 16 && p.bitsPerSample != 32) {
    *why = bits + " are not read";
    return 0;
  }
  const std::uint32_t colour = p.ColourSamples();
  switch (p.photometric) {
    case 0:
    case 1:
      if (colour != 1) break;
      return p.bitsPerSample == 1 && p.alpha == 0 ? 1 : 8;
    case 2:
      if (colour != 3) break;
      return 24;
    case 3: {
      if (colour != 1 || p.bitsPerSample > 8 || p.colormap.size() != (std::size_t{3} << p.bitsPerSample)) {
        *why = "a palette image without a usable colour map is not read";
        return 0;
      }
      const std::vector<std::uint8_t> map = ColourMap8(p.colormap);
      const std::size_t entries = map.size() / 3;
      bool gray = true;
      bool blackWhite = p.bitsPerSample == 1 && p.alpha == 0;
      for (std::size_t i = 0; i < entries; ++i) {
        const int r = map[i];
        const int g = map[entries + i];
        const int b = map[2 * entries + i];
        gray = gray && r == g && g == b;
        blackWhite = blackWhite && r == g && g == b && (r == 0 || r == 255);
      }
      return blackWhite ? 1 : gray ? 8 : 24;
    }
    case 5:
      if (p.inkSet != 1 || colour != 4) {
        *why = "a separated image of " + std::to_string(colour) + " inks other than CMYK is not read";
        return 0;
      }
      return 24;
    case 6:
      if (p.compression == 7 && colour == 3) return 24;
      *why = "a YCbCr image other than JPEG-compressed is not read";
      return 0;
    default:
      *why = "photometric interpretation " + std::to_string(p.photometric) + " is not read";
      return 0;
  }
  *why = std::to_string(colour) + " colour samples for photometric interpretation " +
         std::to_string(p.photometric) + " are not read";
  return 0;
}

std::string Describe(const TiffPage& p) {
  static const char* const kColours[] = {"MinIsWhite gray", "MinIsBlack gray", "RGB", "palette",
                                         "transparency mask", "CMYK", "YCbCr"};
  std::string text = p.planar == 2 && p.samplesPerPixel > 1 ? "planar " : "";
  text += p.photometric < 7 ? kColours[p.photometric] : "photometric " + std::to_string(p.photometric);
  if (p.alpha != 0) text += p.alpha == 1 ? " with associated alpha" : " with alpha";
  text += ", " + std::to_string(p.bitsPerSample) + (p.sampleFormat == 3 ? "-bit floating point" : " bits per sample");
  if (p.tiled) text += ", tiled";
  if (p.fillOrder == 2) text += ", FillOrder 2";
  static const struct {
    std::uint32_t code;
    const char* name;
  } kCompressions[] = {{1, "uncompressed"}, {2, "CCITT RLE"}, {3, "CCITT G3"}, {4, "CCITT G4"},
                       {5, "LZW"}, {6, "old-style JPEG"}, {7, "JPEG"}, {8, "Deflate"}, {32946, "Deflate"},
                       {32773, "PackBits"}};
  std::string compression = "compression " + std::to_string(p.compression);
  for (const auto& c : kCompressions) {
    if (c.code == p.compression) compression = c.name;
  }
  return text + ", " + compression;
}

SampleLayout LayoutOf(const TiffPage& page) {
  SampleLayout layout;
  layout.samples = page.samplesPerPixel;
  layout.bits = page.bitsPerSample;
  layout.floating = page.sampleFormat == 3;
  layout.separate = page.planar == 2 && page.samplesPerPixel > 1;
  switch (page.photometric) {
    case 0: layout.colour = SampleLayout::Colour::Gray; layout.minIsWhite = true; break;
    case 2: layout.colour = SampleLayout::Colour::Rgb; break;
    case 3: layout.colour = SampleLayout::Colour::Palette; layout.colormap = ColourMap8(page.colormap); break;
    case 5: layout.colour = SampleLayout::Colour::Cmyk; break;
    case 6:  // JPEG's YCbCr, which the codec gives as RGB
      layout.colour = SampleLayout::Colour::Rgb;
      layout.samples = 3;
      layout.bits = 8;
      layout.separate = false;
      return layout;
    default: layout.colour = SampleLayout::Colour::Gray; break;
  }
  if (page.alpha != 0) {
    layout.alpha = static_cast<std::int32_t>(page.ColourSamples());
    layout.premultiplied = page.alpha == 1;
  }
  return layout;
}

RowConverter::RowConverter(const SampleLayout& layout, std::uint32_t width, std::uint32_t format)
    : layout_(layout), width_(width), format_(format) {}

std::uint32_t RowConverter::Raw(const std::uint8_t* const* planes, std::uint32_t x, std::uint32_t s) const {
  const std::uint8_t* plane = planes[layout_.separate ? s : 0];
  const std::uint64_t index = layout_.separate ? x : std::uint64_t{x} * layout_.samples + s;
  switch (layout_.bits) {
    case 8: return plane[index];
    case 16: {
      std::uint16_t v;
      std::memcpy(&v, plane + 2 * index, 2);
      return v;
    }
    case 32: {
      std::uint32_t v;
      std::memcpy(&v, plane + 4 * index, 4);
      return v;
    }
    default: {
      // Packed samples, first bit leftmost; at most 16 bits span at most 3 bytes.
      const std::uint64_t bit = index * layout_.bits;
      const std::uint8_t* p = plane + bit / 8;
      const unsigned shift = static_cast<unsigned>(bit % 8);
      const unsigned span = (shift + layout_.bits + 7) / 8;
      std::uint32_t word = 0;
      for (unsigned i = 0; i < span; ++i) word = word << 8 | p[i];
      word >>= span * 8 - shift - layout_.bits;
      return word & ((1u << layout_.bits) - 1);
    }
  }
}

double RowConverter::Sample(const std::uint8_t* const* planes, std::uint32_t x, std::uint32_t s) const {
  if (layout_.floating) {
    const std::uint8_t* plane = planes[layout_.separate ? s : 0];
    const std::uint64_t index = layout_.separate ? x : std::uint64_t{x} * layout_.samples + s;
    double v;
    if (layout_.bits == 64) {
      std::memcpy(&v, plane + 8 * index, 8);
    } else {
      float f;
      std::memcpy(&f, plane + 4 * index, 4);
      v = f;
    }
    v *= scale_;
    return std::isfinite(v) ? std::clamp(v, 0.0, 255.0) : 0.0;
  }
  const std::uint32_t raw = Raw(planes, x, s);
  if (layout_.bits == 8) return raw;
  const double max = layout_.bits == 32 ? 4294967295.0 : static_cast<double>((1u << layout_.bits) - 1);
  return raw * 255.0 / max;
}

void RowConverter::See(const std::uint8_t* const* planes) {
  const double keep = scale_;
  scale_ = 1;
  const std::uint32_t colours = layout_.alpha >= 0 ? static_cast<std::uint32_t>(layout_.alpha) : layout_.samples;
  for (std::uint32_t x = 0; x < width_; ++x) {
    for (std::uint32_t s = 0; s < colours; ++s) {
      const std::uint8_t* plane = planes[layout_.separate ? s : 0];
      const std::uint64_t index = layout_.separate ? x : std::uint64_t{x} * layout_.samples + s;
      double v;
      if (layout_.bits == 64) {
        std::memcpy(&v, plane + 8 * index, 8);
      } else {
        float f;
        std::memcpy(&f, plane + 4 * index, 4);
        v = f;
      }
      if (std::isfinite(v)) largest_ = std::max(largest_, v);
    }
  }
  scale_ = keep;
}

void RowConverter::RangeSeen() {
  // Writers keep floating-point gray as fractions of 1, as 8-bit or as 16-bit values.
  scale_ = largest_ <= 1.0 ? 255.0 : largest_ <= 255.0 ? 1.0 : 255.0 / 65535.0;
}

void RowConverter::Convert(const std::uint8_t* const* planes, std::uint8_t* out) const {
  using Colour = SampleLayout::Colour;
  const bool single = layout_.samples == 1;
  // The common layouts row by row.
  if (single && layout_.colour == Colour::Gray && !layout_.floating &&
      ((format_ == 1 && layout_.bits == 1) || (format_ == 8 && layout_.bits == 8))) {
    const std::size_t bytes = format_ == 1 ? (width_ + 7) / 8 : width_;
    // Bitonal: a set bit is black; gray: 0 is black.
    const bool invert = (format_ == 1) != layout_.minIsWhite;
    for (std::size_t i = 0; i < bytes; ++i) out[i] = invert ? static_cast<std::uint8_t>(~planes[0][i]) : planes[0][i];
    if (format_ == 1 && width_ % 8 != 0) out[bytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width_ % 8));
    return;
  }
  if (format_ == 24 && layout_.colour == Colour::Rgb && layout_.samples == 3 && layout_.bits == 8 &&
      !layout_.floating && !layout_.separate) {
    std::memcpy(out, planes[0], std::size_t{width_} * 3);
    return;
  }
  if (format_ == 1) std::memset(out, 0, (width_ + 7) / 8);
  const std::size_t entries = layout_.colormap.size() / 3;
  for (std::uint32_t x = 0; x < width_; ++x) {
    double c[3] = {0, 0, 0};
    switch (layout_.colour) {
      case Colour::Gray:
        c[0] = Sample(planes, x, 0);
        if (layout_.minIsWhite) c[0] = 255 - c[0];
        c[1] = c[2] = c[0];
        break;
      case Colour::Palette: {
        const std::size_t i = std::min<std::size_t>(Raw(planes, x, 0), entries - 1);
        for (int k = 0; k < 3; ++k) c[k] = layout_.colormap[k * entries + i];
        break;
      }
      case Colour::Rgb:
      case Colour::Bgr:
        for (std::uint32_t k = 0; k < 3; ++k) c[k] = Sample(planes, x, k);
        if (layout_.colour == Colour::Bgr) std::swap(c[0], c[2]);
        break;
      case Colour::Cmyk: {
        const double k = Sample(planes, x, 3);
        for (std::uint32_t i = 0; i < 3; ++i) c[i] = (255 - Sample(planes, x, i)) * (255 - k) / 255;
        break;
      }
    }
    if (layout_.alpha >= 0) {
      // Laid on white paper.
      const double a = Sample(planes, x, static_cast<std::uint32_t>(layout_.alpha)) / 255;
      for (double& v : c) v = layout_.premultiplied ? std::min(255.0, v + 255 * (1 - a)) : v * a + 255 * (1 - a);
    }
    switch (format_) {
      case 1:
        if (0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2] < 128) out[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
        break;
      case 8:
        out[x] = static_cast<std::uint8_t>(std::lround(std::clamp(c[0], 0.0, 255.0)));
        break;
      default:
        for (int k = 0; k < 3; ++k) out[3 * x + k] = static_cast<std::uint8_t>(std::lround(std::clamp(c[k], 0.0, 255.0)));
        break;
    }
  }
}

}  // namespace pictorn
