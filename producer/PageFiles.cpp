// Page images of generated storages: page sizes, the page label, and the cache of
// encoded page files.
#include "producer/PageFiles.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace esproduce {
namespace {

// ---- Page sizes -----------------------------------------------------------------------

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Digits with at most `decimals` digits after a point, scaled by 10^decimals. No signs,
// no exponent, nothing the locale could change.
std::optional<std::uint32_t> ParseNumber(std::string_view text, int decimals) {
  std::uint64_t value = 0;
  int after = -1;  // digits seen after the point; -1 before it
  bool digits = false;
  for (const char c : text) {
    if (c == '.' && after < 0 && decimals > 0) {
      after = 0;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    if (after >= decimals) return std::nullopt;
    if (after >= 0) ++after;
    value = value * 10 + static_cast<unsigned>(c - '0');
    digits = true;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (!digits || after == 0) return std::nullopt;
  for (int i = std::max(after, 0); i < decimals; ++i) value *= 10;
  if (value == 0 || value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// ---- The page label ---------------------------------------------------------------------

// A 5 x 7 font: seven rows of five bits, the leftmost pixel in bit 4.
struct Glyph {
  char c;
  std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
};

const Glyph* Find(char c) {
  for (const Glyph& glyph : kFont)
    if (glyph.c == c) return &glyph;
  return nullptr;  // a blank
}

// Sets [x0, x1) x [y0, y1), clipped to the page, to black or white.
void Fill(PageImage& page, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, bool black) {
  x1 = std::min(x1, page.width);
  y1 = std::min(y1, page.height);
  const std::size_t rowBytes = page.RowBytes();
  for (std::uint32_t y = y0; y < y1; ++y) {
    std::uint8_t* row = page.pixels.data() + y * rowBytes;
    for (std::uint32_t x = x0; x < x1; ++x) {
      if (page.kind == PixelKind::Bitonal) {
        const auto bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
        row[x >> 3] = black ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
      } else if (page.kind == PixelKind::Gray8) {
        row[x] = black ? 0 : 255;
      } else {
        std::fill(row + 3 * x, row + 3 * x + 3, black ? 0 : 255);
      }
    }
  }
}

// Large black letters on a white field in the free space below the page-number squares.
void DrawLabel(PageImage& page, std::uint32_t dpi, const std::string& text) {
  const std::uint32_t cells = static_cast<std::uint32_t>(text.size()) * 6;
  std::uint32_t scale = std::max(1u, dpi / 15);
  scale = std::min(scale, std::max(1u, page.width * 7 / 10 / (cells + 2)));
  const std::uint32_t left = page.width * 15 / 100;
  const std::uint32_t top = page.height * 8 / 100;
  Fill(page, left, top, left + (cells + 2) * scale, top + 9 * scale, false);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Glyph* glyph = Find(text[i]);
    if (!glyph) continue;
    const std::uint32_t x0 = left + (1 + 6 * static_cast<std::uint32_t>(i)) * scale;
    for (std::uint32_t row = 0; row < 7; ++row)
      for (std::uint32_t col = 0; col < 5; ++col)
        if (glyph->rows[row] & (0x10u >> col))
          Fill(page, x0 + col * scale, top + (1 + row) * scale, x0 + (col + 1) * scale, top + (2 + row) * scale, true);
  }
}

}  // namespace

std::optional<PageSize> ParsePageSize(std::string_view text, std::string* error) {
  const std::string lower = Lower(text);
  if (lower == "a4") return PageSize{2100, 2970, PageSize::Unit::TenthMillimetre};
  if (lower == "letter") return PageSize{2159, 2794, PageSize::Unit::TenthMillimetre};
  const auto fail = [&]() -> std::optional<PageSize> {
    if (error)
      *error = "page size '" + std::string(text) +
               "' is none of a4, letter, WxHmm (for example 210x297mm) and WxHpx (for example 2480x3508px)";
    return std::nullopt;
  };
  if (lower.size() < 3) return fail();
  const std::string unit = lower.substr(lower.size() - 2);
  if (unit != "mm" && unit != "px") return fail();
  const std::string dims = lower.substr(0, lower.size() - 2);
  const std::size_t cross = dims.find('x');
  if (cross == std::string::npos) return fail();
  const int decimals = unit == "mm" ? 1 : 0;
  const auto width = ParseNumber(std::string_view(dims).substr(0, cross), decimals);
  const auto height = ParseNumber(std::string_view(dims).substr(cross + 1), decimals);
  if (!width || !height) return fail();
  return PageSize{*width, *height, unit == "mm" ? PageSize::Unit::TenthMillimetre : PageSize::Unit::Pixel};
}

PixelSize ToPixels(const PageSize& size, std::uint32_t dpi) {
  if (size.unit == PageSize::Unit::Pixel) return {size.width, size.height};
  const auto pixels = [dpi](std::uint32_t tenths) {
    const std::uint64_t value = (std::uint64_t{tenths} * dpi + 127) / 254;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
  };
  return {pixels(size.width), pixels(size.height)};
}

std::int32_t TenthsOfMillimetre(std::uint32_t pixels, std::uint32_t dpi) {
  if (dpi == 0) return 0;
  return static_cast<std::int32_t>((std::uint64_t{pixels} * 254 + dpi / 2) / dpi);
}

PageFileCache::PageFileCache(Compression compression, PixelSize size, std::uint32_t dpi)
    : compression_(compression), size_(size), dpi_(dpi) {
  if (!CanWrite(compression))
    throw std::invalid_argument(std::string("compression ") + CompressionName(compression) +
                                " cannot be written by this build of esproduce");
  if (dpi < kMinDpi || dpi > kMaxDpi)
    throw std::invalid_argument("resolution must be between " + std::to_string(kMinDpi) + " and " +
                                std::to_string(kMaxDpi) + " dpi");
  if (size.width == 0 || size.height == 0 || size.width > kMaxPixelSide || size.height > kMaxPixelSide)
    throw std::invalid_argument("page size " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                                " px: each side must be between 1 and " + std::to_string(kMaxPixelSide) +
                                " pixels");
}

PageImage PageFileCache::Draw(int number, int count) const {
  const auto n = static_cast<std::uint32_t>(std::max(number, 0));
  PageImage page = compression_ == Compression::Jpeg ? MakeGrayPage(size_.width, size_.height, dpi_, n)
                                                     : MakeBitonalPage(size_.width, size_.height, dpi_, n);
  DrawLabel(page, dpi_, number > 0 ? "PAGE " + std::to_string(number) + " OF " + std::to_string(count)
                                   : "EXTRA PAGE");
  return page;
}

std::shared_ptr<const Bytes> PageFileCache::Encode(const std::vector<PageImage>& pages) const {
  std::string error;
  Bytes bytes = MakeTiff(pages, compression_, &error);
  if (bytes.empty()) throw std::runtime_error("cannot encode a page image: " + error);
  return std::make_shared<const Bytes>(std::move(bytes));
}

std::shared_ptr<const Bytes> PageFileCache::Single(int number, int count) {
  auto& slot = single_[{number, count}];
  if (!slot) slot = Encode({Draw(number, count)});
  return slot;
}

std::shared_ptr<const Bytes> PageFileCache::Multi(int count) {
  auto& slot = multi_[count];
  if (!slot) {
    std::vector<PageImage> pages;
    for (int number = 1; number <= count; ++number) pages.push_back(Draw(number, count));
    slot = Encode(pages);
  }
  return slot;
}

std::shared_ptr<const Bytes> PageFileCache::Extra() {
  if (!extra_) extra_ = Encode({Draw(0, 0)});
  return extra_;
}

std::shared_ptr<const Bytes> PageFileCache::Damaged(int number, int count, bool multi, Damage damage) {
  auto& slot = damaged_[{number, count, multi, damage}];
  if (!slot) {
    Bytes bytes = multi ? *Multi(count) : *Single(number, count);
    std::string error;
    const std::size_t image = multi ? static_cast<std::size_t>(number - 1) : 0;
    if (!DamageTiff(&bytes, damage, image, &error)) throw std::runtime_error("cannot damage a page image: " + error);
    slot = std::make_shared<const Bytes>(std::move(bytes));
  }
  return slot;
}

}  // namespace esproduce
