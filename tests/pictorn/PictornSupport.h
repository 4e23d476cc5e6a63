// Shared helpers of the image library tests: page files written and opened through the
// platform seam, pages read with their attributes, pixel comparison.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "tests/support/TempFolder.h"

#include "Pictorn.h"
#include "Quillet.h"
#include "platform/Platform.h"
#include "producer/TiffWriter.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pictorn_test {

using esproduce::Bytes;
using esproduce::Compression;
using esproduce::PageImage;
using TempDir = estest::TempFolder;

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string Utf8(const std::filesystem::path& path) { return reinterpret_cast<const char*>(path.u8string().c_str()); }

// The producer's file of these pages; a failure to write one fails the test.
inline Bytes Tiff(const std::vector<PageImage>& pages, Compression compression) {
  std::string error;
  Bytes bytes = esproduce::MakeTiff(pages, compression, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

// A file opened for reading with read sharing through the platform seam.
struct OpenFile {
  explicit OpenFile(const std::filesystem::path& path)
      : handle(es::platform::Os().OpenFile(path.u16string(), es::platform::Access::Read, es::platform::Share::Read,
                                           es::platform::Disposition::OpenExisting, nullptr)) {}
  // The bytes written as the file 1.pg in `dir` first.
  OpenFile(const TempDir& dir, const Bytes& bytes) : OpenFile((WriteFile(dir / "1.pg", bytes), dir / "1.pg")) {}
  ~OpenFile() {
    if (IsOpen()) es::platform::Os().Close(handle);
  }
  OpenFile(const OpenFile&) = delete;
  bool IsOpen() const { return handle != es::platform::kInvalidFile; }
  const std::intptr_t handle;
};

// One image handed over by the library, released at the end of the scope. The outputs
// start as kUnset, so that a failed read shows whether it left them alone.
struct Page {
  static constexpr std::uint32_t kUnset = 0x5A5A;
  Page() = default;
  Page(Page&& o) noexcept : result(o.result), image(std::exchange(o.image, kUnset)), size(o.size), attrs(std::exchange(o.attrs, nullptr)) {}
  Page& operator=(Page&&) = delete;
  ~Page() {
    if (image != kUnset) PictornReleaseImage(image);
    if (attrs) attrs->Destroy();
  }
  bool Untouched() const { return image == kUnset && size == kUnset && attrs == nullptr; }
  long Attr(std::uint32_t id) const {  // -99999 when absent
    long value = -99999;
    return attrs && attrs->GetAttr(id, &value, 0) ? value : -99999;
  }
  PictornInfo Info() const {
    PictornInfo info{};
    EXPECT_TRUE(PictornImageInfo(image, &info));
    return info;
  }

  std::int32_t result = -1;
  std::uint64_t image = kUnset;
  std::uint32_t size = kUnset;
  CAttrContainer* attrs = nullptr;
};

inline Page ReadImage(std::intptr_t file, std::int32_t index) {
  Page page;
  page.result = GT_CreatePageAttrsFromHandle(file, index, &page.image, &page.size, page.attrs, 1);
  return page;
}

inline Page ReadMemory(const Bytes& bytes) {
  Page page;
  page.result = PictornImageFromMemory(&page.image, 0, &page.size, page.attrs, 1, bytes.data(),
                                       static_cast<std::uint32_t>(bytes.size()));
  return page;
}

// Whether the imaging component is Wine's (its ntdll exports its version, Windows' does
// not). Wine 8's reads no planar TIFF images.
inline bool WineImaging() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// Pixels in the library's formats 1, 8 and 24, rows `stride` bytes apart.
struct Raster {
  std::uint32_t width = 0, height = 0, format = 0, stride = 0;
  Bytes data;
};

// The producer's pixels are laid out as the library's.
inline Raster RasterOf(const PageImage& page) {
  const std::uint32_t format = page.kind == esproduce::PixelKind::Bitonal ? 1 : page.kind == esproduce::PixelKind::Gray8 ? 8 : 24;
  return {page.width, page.height, format, static_cast<std::uint32_t>(page.RowBytes()), page.pixels};
}

// How far decoded samples may lie from the expected ones; bitonal pixels match exactly.
struct Tolerance {
  int sample = 0;     // any one gray or colour sample
  double mean = 255;  // the mean per sample
  double apart = 1;   // the share of samples more than 1 apart
};

// The image decodes to these pixels.
inline testing::AssertionResult DecodesAs(std::uint64_t image, const Raster& want, Tolerance tolerance = {}) {
  PictornPixels got{};
  if (!PictornDecode(image, &got)) return testing::AssertionFailure() << "no decode: " << PictornLastError();
  const std::unique_ptr<PictornPixels, void (*)(PictornPixels*)> release(&got, PictornFreePixels);
  if (got.width != want.width || got.height != want.height || got.format != want.format) {
    return testing::AssertionFailure() << "decoded " << got.width << "x" << got.height << " format " << got.format
                                       << ", expected " << want.width << "x" << want.height << " format " << want.format;
  }
  const bool bits = want.format == 1;
  const std::uint32_t count = bits ? want.width : want.width * (want.format / 8);
  std::uint64_t total = 0, apart = 0;
  for (std::uint32_t y = 0; y < want.height; ++y) {
    const std::uint8_t* a = got.data + std::size_t{y} * got.stride;
    const std::uint8_t* b = want.data.data() + std::size_t{y} * want.stride;
    for (std::uint32_t i = 0; i < count; ++i) {
      const int u = bits ? (a[i / 8] >> (7 - i % 8)) & 1 : a[i], v = bits ? (b[i / 8] >> (7 - i % 8)) & 1 : b[i];
      if (std::abs(u - v) > (bits ? 0 : tolerance.sample)) {
        return testing::AssertionFailure() << "row " << y << " sample " << i << " is " << u << ", expected " << v;
      }
      total += static_cast<std::uint64_t>(std::abs(u - v));
      apart += std::abs(u - v) > 1;
    }
  }
  const double samples = static_cast<double>(count) * want.height;
  if (total > tolerance.mean * samples || apart > tolerance.apart * samples) {
    return testing::AssertionFailure() << "mean difference " << total / samples << ", " << apart << " of " << samples
                                       << " samples more than 1 apart";
  }
  return testing::AssertionSuccess();
}

// Attributes and information the page must carry for an image of these pixels.
inline void ExpectAttributes(const Page& read, std::uint32_t width, std::uint32_t height, long xDpi, long yDpi, long bits) {
  const auto tenths = [](std::uint32_t pixels, long dpi) { return std::lround(pixels * 254.0 / static_cast<double>(dpi)); };
  const PictornInfo info = read.Info();
  EXPECT_EQ((std::vector<std::int64_t>{read.Attr(kPictornAttrResolutionX), read.Attr(kPictornAttrResolutionY),
                                       read.Attr(kPictornAttrBitDepth), read.Attr(kPictornAttrWidth),
                                       read.Attr(kPictornAttrHeight), info.width, info.height, info.bitsPerPixel}),
            (std::vector<std::int64_t>{xDpi, yDpi, bits, tenths(width, xDpi), tenths(height, yDpi), width, height, bits}))
      << "resolution x y, bits, size in tenths of a millimetre x y, information's width height bits";
}

}  // namespace pictorn_test
