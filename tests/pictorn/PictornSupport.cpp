#include "PictornSupport.h"

#include <cmath>
#include <fstream>
#include <iterator>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pictorn_test {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

Bytes Tiff(const std::vector<PageImage>& pages, Compression compression) {
  std::string error;
  Bytes bytes = esproduce::MakeTiff(pages, compression, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

OpenFile::OpenFile(const fs::path& path) {
  es::platform::Error error = es::platform::Error::None;
  handle_ = es::platform::Os().OpenFile(path.u16string(), es::platform::Access::Read, es::platform::Share::Read,
                                        es::platform::Disposition::OpenExisting, &error);
}

OpenFile::~OpenFile() {
  if (IsOpen()) es::platform::Os().Close(handle_);
}

bool OpenFile::IsOpen() const { return handle_ != es::platform::kInvalidFile; }

Page::Page(Page&& other) noexcept
    : result(other.result), image(other.image), size(other.size), attrs(other.attrs) {
  other.image = 0;
  other.attrs = nullptr;
}

Page::~Page() {
  PictornReleaseImage(image);
  if (attrs) attrs->Destroy();
}

long Page::Attr(std::uint32_t id) const {
  long value = -99999;
  if (!attrs || !attrs->GetAttr(id, &value, 0)) return -99999;
  return value;
}

PictornInfo Page::Info() const {
  PictornInfo info{};
  EXPECT_TRUE(PictornImageInfo(image, &info));
  return info;
}

Page ReadImage(std::intptr_t file, std::int32_t index) {
  Page page;
  page.result = GT_CreatePageAttrsFromHandle(file, index, &page.image, &page.size, page.attrs, 1);
  return page;
}

Page ReadMemory(const Bytes& bytes) {
  Page page;
  page.result = PictornImageFromMemory(&page.image, 0, &page.size, page.attrs, 1, bytes.data(),
                                       static_cast<std::uint32_t>(bytes.size()));
  return page;
}

bool WineImaging() {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

long Tenths(std::uint32_t pixels, double dpi) { return std::lround(pixels * 254.0 / dpi); }

// The producer's pixels are laid out as the library's.
Raster RasterOf(const PageImage& page) {
  const std::uint32_t format = page.kind == esproduce::PixelKind::Bitonal ? 1
                               : page.kind == esproduce::PixelKind::Gray8 ? 8
                                                                           : 24;
  return {page.width, page.height, format, static_cast<std::uint32_t>(page.RowBytes()), page.pixels};
}

testing::AssertionResult SamePixels(const PictornPixels& got, const Raster& want, Tolerance tolerance) {
  if (got.width != want.width || got.height != want.height || got.format != want.format) {
    return testing::AssertionFailure() << "decoded " << got.width << "x" << got.height << " format " << got.format
                                       << ", expected " << want.width << "x" << want.height << " format "
                                       << want.format;
  }
  const int most = want.format == 1 ? 0 : tolerance.sample;
  const std::uint32_t count = want.format == 1 ? want.width : want.width * (want.format / 8);
  std::uint64_t total = 0, apart = 0;
  for (std::uint32_t y = 0; y < want.height; ++y) {
    const std::uint8_t* a = got.data + std::size_t{y} * got.stride;
    const std::uint8_t* b = want.data.data() + std::size_t{y} * want.stride;
    for (std::uint32_t i = 0; i < count; ++i) {
      const int u = want.format == 1 ? (a[i / 8] >> (7 - i % 8)) & 1 : a[i];
      const int v = want.format == 1 ? (b[i / 8] >> (7 - i % 8)) & 1 : b[i];
      const int delta = std::abs(u - v);
      if (delta > most) {
        return testing::AssertionFailure() << "row " << y << " sample " << i << " is " << u << ", expected " << v;
      }
      total += static_cast<std::uint64_t>(delta);
      apart += delta > 1;
    }
  }
  const double samples = static_cast<double>(count) * want.height;
  if (total > tolerance.mean * samples || apart > tolerance.apart * samples) {
    return testing::AssertionFailure() << "mean difference " << total / samples << ", " << apart << " of "
                                       << samples << " samples more than 1 apart";
  }
  return testing::AssertionSuccess();
}

testing::AssertionResult DecodesAs(std::uint64_t image, const Raster& want, Tolerance tolerance) {
  PictornPixels pixels{};
  if (!PictornDecode(image, &pixels)) return testing::AssertionFailure() << "no decode: " << PictornLastError();
  const testing::AssertionResult same = SamePixels(pixels, want, tolerance);
  PictornFreePixels(&pixels);
  return same;
}

void ExpectAttributes(const Page& read, std::uint32_t width, std::uint32_t height, long xDpi, long yDpi, long bits) {
  EXPECT_EQ(read.Attr(kPictornAttrResolutionX), xDpi);
  EXPECT_EQ(read.Attr(kPictornAttrResolutionY), yDpi);
  EXPECT_EQ(read.Attr(kPictornAttrBitDepth), bits);
  EXPECT_EQ(read.Attr(kPictornAttrWidth), Tenths(width, static_cast<double>(xDpi)));
  EXPECT_EQ(read.Attr(kPictornAttrHeight), Tenths(height, static_cast<double>(yDpi)));
  const PictornInfo info = read.Info();
  EXPECT_EQ(info.width, width);
  EXPECT_EQ(info.height, height);
  EXPECT_EQ(info.bitsPerPixel, static_cast<std::uint32_t>(bits));
}

void ExpectAttributes(const Page& read, const PageImage& page) {
  ExpectAttributes(read, page.width, page.height, page.xDpi, page.yDpi, RasterOf(page).format);
}

}  // namespace pictorn_test
