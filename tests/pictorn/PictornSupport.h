// Shared helpers of the image library tests: page files written and opened through the
// platform seam, pages read with their attributes, pixel comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/TempFolder.h"

#include "Pictorn.h"
#include "Quillet.h"
#include "producer/TiffWriter.h"

namespace pictorn_test {

using esproduce::Bytes;
using esproduce::Compression;
using esproduce::PageImage;
using TempDir = estest::TempFolder;

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);
std::string Utf8(const std::filesystem::path& path);
// The producer's file of these pages; a failure to write one fails the test.
Bytes Tiff(const std::vector<PageImage>& pages, Compression compression);

// A file opened for reading with read sharing through the platform seam.
class OpenFile {
 public:
  explicit OpenFile(const std::filesystem::path& path);
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  bool IsOpen() const;
  std::intptr_t Handle() const { return handle_; }

 private:
  std::intptr_t handle_;
};

// One image handed over by the library, released at the end of the scope.
struct Page {
  Page() = default;
  Page(Page&& other) noexcept;
  Page& operator=(Page&&) = delete;
  ~Page();
  long Attr(std::uint32_t id) const;  // -99999 when absent
  PictornInfo Info() const;

  std::int32_t result = -1;
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  CAttrContainer* attrs = nullptr;
};

Page ReadImage(std::intptr_t file, std::int32_t index);
Page ReadMemory(const Bytes& bytes);

// Whether the imaging component is Wine's. Wine 8's reads no planar TIFF images.
bool WineImaging();

// lround(pixels * 254 / dpi): the page size attribute in tenths of a millimetre.
long Tenths(std::uint32_t pixels, double dpi);

// Pixels in the library's formats 1, 8 and 24, rows `stride` bytes apart.
struct Raster {
  std::uint32_t width = 0, height = 0, format = 0, stride = 0;
  Bytes data;
};
Raster RasterOf(const PageImage& page);

// How far decoded samples may lie from the expected ones; bitonal pixels match exactly.
struct Tolerance {
  int sample = 0;     // any one gray or colour sample
  double mean = 255;  // the mean per sample
  double apart = 1;   // the share of samples more than 1 apart
};
testing::AssertionResult SamePixels(const PictornPixels& got, const Raster& want, Tolerance tolerance);
// The image decodes to these pixels.
testing::AssertionResult DecodesAs(std::uint64_t image, const Raster& want, Tolerance tolerance = {});

// Attributes and information the page must carry for an image of these pixels.
void ExpectAttributes(const Page& read, std::uint32_t width, std::uint32_t height, long xDpi, long yDpi, long bits);
void ExpectAttributes(const Page& read, const PageImage& page);

}  // namespace pictorn_test
