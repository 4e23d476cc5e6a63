#include "PictornSupport.h"

#include <atomic>
#include <cmath>
#include <fstream>
#include <random>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pictorn_test {

namespace fs = std::filesystem;
namespace ids = pictorn_ids;

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
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

testing::AssertionResult DecodesAs(std::uint64_t image, const esproduce::PageImage& page, double tolerance) {
  PictornPixels pixels{};
  if (!PictornDecode(image, &pixels)) return testing::AssertionFailure() << "no decode: " << PictornLastError();
  struct Free {
    PictornPixels* p;
    ~Free() { PictornFreePixels(p); }
  } free{&pixels};
  const std::uint32_t expectedFormat = page.kind == esproduce::PixelKind::Bitonal ? 1
                                       : page.kind == esproduce::PixelKind::Gray8 ? 8
                                                                                   : 24;
  if (pixels.width != page.width || pixels.height != page.height || pixels.format != expectedFormat) {
    return testing::AssertionFailure() << "decoded " << pixels.width << "x" << pixels.height << " format "
                                       << pixels.format << ", written " << page.width << "x" << page.height
                                       << " format " << expectedFormat;
  }
  const unsigned channels = expectedFormat == 24 ? 3 : 1;
  double difference = 0;
  std::uint64_t samples = 0;
  for (std::uint32_t y = 0; y < page.height; ++y) {
    const std::uint8_t* row = pixels.data + std::size_t{y} * pixels.stride;
    for (std::uint32_t x = 0; x < page.width; ++x) {
      for (unsigned c = 0; c < channels; ++c) {
        std::uint8_t got;
        if (expectedFormat == 1) {
          got = (row[x >> 3] >> (7 - (x & 7))) & 1u ? 0 : 255;
        } else {
          got = row[channels * x + c];
        }
        const int delta = std::abs(int{got} - int{page.Sample(x, y, c)});
        if (tolerance == 0 && delta != 0) {
          return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") channel " << c << " is "
                                             << int{got} << ", written " << int{page.Sample(x, y, c)};
        }
        difference += delta;
        ++samples;
      }
    }
  }
  const double mean = difference / static_cast<double>(samples);
  if (mean > tolerance) return testing::AssertionFailure() << "mean difference " << mean;
  return testing::AssertionSuccess();
}

void ExpectAttributes(const Page& read, const esproduce::PageImage& page) {
  const unsigned bits = page.kind == esproduce::PixelKind::Bitonal ? 1 : page.kind == esproduce::PixelKind::Gray8 ? 8 : 24;
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), static_cast<long>(page.xDpi));
  EXPECT_EQ(read.Attr(ids::kPageResolutionY), static_cast<long>(page.yDpi));
  EXPECT_EQ(read.Attr(ids::kPageBitDepth), static_cast<long>(bits));
  EXPECT_EQ(read.Attr(ids::kPageWidth), Tenths(page.width, page.xDpi));
  EXPECT_EQ(read.Attr(ids::kPageHeight), Tenths(page.height, page.yDpi));
  const PictornInfo info = read.Info();
  EXPECT_EQ(info.width, page.width);
  EXPECT_EQ(info.height, page.height);
  EXPECT_EQ(info.bitsPerPixel, bits);
}

}  // namespace pictorn_test
