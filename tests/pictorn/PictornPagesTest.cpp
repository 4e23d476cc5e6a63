// Page files in every compression the producer writes, read through open files, and
// images from bytes in memory.
#include <gtest/gtest.h>

#include "PictornSupport.h"

namespace pictorn_test {
namespace {

using esproduce::PixelKind;

struct Case {
  Compression compression;
  PixelKind kind;
  const char* name;  // as the library reports it
  double mean;       // mean difference allowed per sample (lossy compressions)
};

void ReadEveryImageByIndexFromAnyPosition(const Case& c) {
  const Tolerance tolerance{c.mean > 0 ? 255 : 0, c.mean};
  // An A4 page (300 dpi bitonal, 100 dpi for the bulkier gray and colour ones), then four
  // of different sizes, so that an image read for the wrong index shows.
  const bool bitonal = c.kind == PixelKind::Bitonal;
  const auto make = bitonal ? esproduce::MakeBitonalPage : c.kind == PixelKind::Gray8 ? esproduce::MakeGrayPage : esproduce::MakeRgbPage;
  std::vector<PageImage> pages = {bitonal ? make(2480, 3508, 300, 1) : make(827, 1169, 100, 1)};
  for (std::uint32_t k = 1; k < 5; ++k) pages.push_back(make(410 + 24 * k, 560 + 8 * k, 50, k + 1));
  const TempDir dir;
  const Bytes tiff = Tiff(pages, c.compression);
  const OpenFile file(dir, tiff);
  ASSERT_TRUE(file.IsOpen());
  const std::uint64_t fileSize = tiff.size();
  for (std::int32_t k = 0; k < 5; ++k) {
    SCOPED_TRACE("image " + std::to_string(k));
    // Read at explicit offsets: where the file stands does not matter.
    ASSERT_TRUE(es::platform::Os().Seek(file.handle, k % 2 ? 4 : fileSize));
    EXPECT_EQ(PictornImageCount(file.handle), 5);
    const Page read = ReadImage(file.handle, k);
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    ASSERT_NE(read.attrs, nullptr);
    const PageImage& p = pages[k];
    ExpectAttributes(read, p.width, p.height, p.xDpi, p.yDpi, RasterOf(p).format);
    EXPECT_EQ(std::tuple(read.attrs->Scope(), read.Info().index, std::string(read.Info().compression), read.size > 0,
                         read.size < fileSize),
              std::tuple(kPictornPageScope, static_cast<std::uint32_t>(k), c.name, true, true))
        << "scope, index, compression, some bytes but not the whole file's";
    EXPECT_TRUE(DecodesAs(read.image, RasterOf(pages[k]), tolerance));
  }
  // An index beyond the images fails and leaves the outputs alone.
  for (const std::int32_t index : {5, 6, kPictornMaxImages, -1}) {
    const Page read = ReadImage(file.handle, index);
    EXPECT_NE(read.result, kPictornOk) << index;
    EXPECT_TRUE(read.Untouched()) << index;
  }
}

TEST(PictornPages, EveryImageReadByIndexFromAnyPosition) {
  const Case cases[] = {{Compression::None, PixelKind::Bitonal, "none", 0},
                        {Compression::PackBits, PixelKind::Bitonal, "PackBits", 0},
                        {Compression::Lzw, PixelKind::Bitonal, "LZW", 0},
                        {Compression::CcittG3, PixelKind::Bitonal, "CCITT G3", 0},
                        {Compression::CcittG4, PixelKind::Bitonal, "CCITT G4", 0},
                        {Compression::None, PixelKind::Gray8, "none", 0},
                        {Compression::Lzw, PixelKind::Gray8, "LZW", 0},
                        {Compression::PackBits, PixelKind::Rgb24, "PackBits", 0},
                        {Compression::Lzw, PixelKind::Rgb24, "LZW", 0},
                        {Compression::Jpeg, PixelKind::Gray8, "JPEG", 3},
                        {Compression::Jpeg, PixelKind::Rgb24, "JPEG", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.kind == PixelKind::Bitonal ? " bitonal" : c.kind == PixelKind::Gray8 ? " gray" : " RGB"));
    if (esproduce::CanWrite(c.compression)) ReadEveryImageByIndexFromAnyPosition(c);  // no JPEG writer in some builds
  }
}

// Sets the value of a SHORT entry, or the numerator of a RATIONAL one, in the first
// directory of a little-endian file as the producer writes it.
void Patch(Bytes& tiff, std::uint16_t tag, std::uint32_t value) {
  auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(tiff[at] | tiff[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  for (std::size_t i = 0, ifd = u32(4), n = u16(ifd); i < n; ++i) {
    const std::size_t entry = ifd + 2 + 12 * i;
    if (u16(entry) != tag) continue;
    const std::size_t at = u16(entry + 2) == 5 ? u32(entry + 8) : entry + 8;
    for (int b = 0; b < 4; ++b) tiff[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
    return;
  }
  ADD_FAILURE() << "no tag " << tag;
}

TEST(PictornAttributes, ResolutionAndPageSizeFromTheFile) {
  const struct {
    const char* name;
    PageImage page;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> patches;  // tag, value
    std::vector<long> want;  // x and y resolution, width and height
  } rows[] = {
      // 80 dots/cm = 203.2 dpi; 1600 px / 80 per cm = 20 cm.
      {"centimetres", esproduce::MakeBitonalPage(1600, 2400, 80, 1), {{296, 3}}, {203, 203, 2000, 3000}},
      {"no unit: 300 dpi", esproduce::MakeBitonalPage(600, 900, 72, 1), {{296, 1}}, {300, 300, 508, 762}},
      {"zero resolution: 300 dpi", esproduce::MakeBitonalPage(600, 900, 72, 1), {{282, 0}, {283, 0}}, {300, 300, 508, 762}},
  };
  const TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes tiff = Tiff({row.page}, Compression::CcittG4);
    for (const auto& [tag, value] : row.patches) Patch(tiff, tag, value);
    const Page read = ReadImage(OpenFile(dir, tiff).handle, 0);
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    EXPECT_EQ((std::vector<long>{read.Attr(kPictornAttrResolutionX), read.Attr(kPictornAttrResolutionY),
                                 read.Attr(kPictornAttrWidth), read.Attr(kPictornAttrHeight)}),
              row.want);
  }
}

TEST(PictornAttributes, GivenPageContainerIsFilledADocumentOneRefused) {
  const TempDir dir;
  const OpenFile file(dir, Tiff({esproduce::MakeBitonalPage(600, 900, 150, 1)}, Compression::CcittG4));
  Page read;
  CAttrContainer document(2);
  CAttrContainer* page = &document;
  for (const std::int32_t one : {1, 0}) {
    EXPECT_EQ(GT_CreatePageAttrsFromHandle(file.handle, 0, &read.image, &read.size, page, one), kPictornBadArgument);
  }
  EXPECT_EQ(document.Count(), 0u);
  EXPECT_TRUE(read.Untouched());
  // A page container the caller gives keeps its other attributes and gets the page's.
  read.attrs = new CAttrContainer(kPictornPageScope);
  read.attrs->SetAttr(0x0102000E, 1L, 0);
  read.attrs->SetAttr(kPictornAttrResolutionX, 1L, 0);
  CAttrContainer* given = read.attrs;
  ASSERT_EQ(GT_CreatePageAttrsFromHandle(file.handle, 0, &read.image, &read.size, read.attrs, 1), kPictornOk);
  EXPECT_EQ(read.attrs, given);
  EXPECT_EQ(std::make_pair(read.Attr(0x0102000E), read.Attr(kPictornAttrResolutionX)), std::make_pair(1L, 150L));
  EXPECT_EQ(read.attrs->Count(), 6u);

  // A released image is forgotten; unknown values are ignored, never freed.
  const std::uint64_t image = std::exchange(read.image, Page::kUnset);
  PictornReleaseImage(image);
  PictornInfo info{};
  EXPECT_FALSE(PictornImageInfo(image, &info));
  PictornPixels pixels{};
  EXPECT_FALSE(PictornDecode(image, &pixels));
  EXPECT_EQ(pixels.data, nullptr);
  EXPECT_FALSE(PictornSavePage(image, Utf8(dir / "x.tif").c_str()));
  PictornReleaseImage(image);
  PictornReleaseImage(0);
  PictornReleaseImage(image + 8);
}

// ---- Images from bytes in memory ----------------------------------------------------------

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// TIFF bytes give their first image, from a copy of their own; other bytes, bad arguments
// and a handle that is no file fail and leave the outputs alone.
TEST(PictornMemory, TiffBytesGiveTheFirstImageAllElseFails) {
  std::vector<PageImage> pages;
  for (std::uint32_t k = 0; k < 3; ++k) pages.push_back(esproduce::MakeBitonalPage(300 + 10 * k, 400, 60, k + 1));
  Bytes bytes = Tiff(pages, Compression::CcittG4);
  const auto count = static_cast<std::uint32_t>(bytes.size());
  const struct {
    const char* name;
    Bytes bytes;
    std::int32_t result;
  } rows[] = {
      {"broken PDF", Text("%PDF-1.4\nnothing else\n"), PICTORN_RENDERS_PDF ? kPictornRenderFailed : kPictornNoRenderer},
      {"GIF", Text("GIF89a and so on"), kPictornNotAnImage},
      {"nothing", Bytes(), kPictornNotAnImage},
      {"PDF mark alone", Text("%PDF"), kPictornNotAnImage},
  };
  for (const auto& row : rows) {
    const Page read = ReadMemory(row.bytes);
    EXPECT_EQ(read.result, row.result) << row.name;
    EXPECT_TRUE(read.Untouched()) << row.name;
  }
  Page bad;
  EXPECT_EQ(PictornImageFromMemory(&bad.image, 1, &bad.size, bad.attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&bad.image, 0, &bad.size, bad.attrs, 0, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(nullptr, 0, &bad.size, bad.attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&bad.image, 0, nullptr, bad.attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&bad.image, 0, &bad.size, bad.attrs, 1, nullptr, count), kPictornBadArgument);
  EXPECT_TRUE(bad.Untouched());
  EXPECT_LT(PictornImageCount(-1), 0);
  EXPECT_EQ(ReadImage(-1, 0).result, kPictornReadFailed);
  EXPECT_TRUE(ReadImage(-1, 0).Untouched());

  const Page read = ReadMemory(bytes);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  ExpectAttributes(read, pages[0].width, pages[0].height, 60, 60, 1);
  EXPECT_EQ(read.Info().index, 0u);
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  bytes = Bytes();
  EXPECT_TRUE(DecodesAs(read.image, RasterOf(pages[0])));
}

}  // namespace
}  // namespace pictorn_test
