// Shared helpers of the image library tests: temporary folders, page files opened
// through the platform seam, pages read with their attributes, pixel comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/TempFolder.h"

#include "Pictorn.h"
#include "Quillet.h"
#include "producer/TiffWriter.h"

// The attribute ids the image library writes, under the names the tests use.
namespace pictorn_ids {
inline constexpr std::uint32_t kPageResolutionX = kPictornAttrResolutionX;
inline constexpr std::uint32_t kPageResolutionY = kPictornAttrResolutionY;
inline constexpr std::uint32_t kPageBitDepth = kPictornAttrBitDepth;
inline constexpr std::uint32_t kPageWidth = kPictornAttrWidth;
inline constexpr std::uint32_t kPageHeight = kPictornAttrHeight;
inline constexpr std::uint8_t kScopePage = kPictornPageScope;
inline constexpr std::uint8_t kScopeDocument = 2;
inline constexpr std::uint32_t kSomeOtherPageAttr = 0x0102000E;  // one the library leaves alone
}  // namespace pictorn_ids

namespace pictorn_test {

using esproduce::Bytes;

using TempDir = estest::TempFolder;

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
std::string Utf8(const std::filesystem::path& path);

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

// The image decodes to the page's pixels: exactly, or within a mean absolute difference
// per sample of `tolerance` (lossy compressions).
testing::AssertionResult DecodesAs(std::uint64_t image, const esproduce::PageImage& page,
                                   double tolerance = 0);

// Attributes the page must carry for an image of `page`.
void ExpectAttributes(const Page& read, const esproduce::PageImage& page);

}  // namespace pictorn_test
