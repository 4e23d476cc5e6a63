// Page files in every compression the producer writes, read through open files.
#include <gtest/gtest.h>

#include "tests/support/BuildTree.h"

#include <cstdlib>

#include "PictornSupport.h"
#include "platform/Platform.h"

namespace pictorn_test {
namespace {

namespace ids = pictorn_ids;
using esproduce::Compression;
using esproduce::PageImage;
using esproduce::PixelKind;

struct Case {
  Compression compression;
  PixelKind kind;
  const char* name;  // as the library reports it
  double tolerance;  // mean difference allowed per sample
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  const char* kind = info.param.kind == PixelKind::Bitonal ? "Bitonal" : info.param.kind == PixelKind::Gray8 ? "Gray" : "Rgb";
  return std::string(esproduce::CompressionName(info.param.compression)) + kind;
}

PageImage MakePage(PixelKind kind, std::uint32_t width, std::uint32_t height, std::uint32_t dpi, std::uint32_t number) {
  switch (kind) {
    case PixelKind::Bitonal: return esproduce::MakeBitonalPage(width, height, dpi, number);
    case PixelKind::Gray8: return esproduce::MakeGrayPage(width, height, dpi, number);
    case PixelKind::Rgb24: return esproduce::MakeRgbPage(width, height, dpi, number);
  }
  return {};
}

class PictornPages : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (!esproduce::CanWrite(GetParam().compression)) {
      GTEST_SKIP() << "this build of the producer writes no " << esproduce::CompressionName(GetParam().compression);
    }
  }

  // Five pages of different sizes, so that an image read for the wrong index shows.
  std::vector<PageImage> FivePages() const {
    std::vector<PageImage> pages;
    for (std::uint32_t k = 0; k < 5; ++k) pages.push_back(MakePage(GetParam().kind, 410 + 24 * k, 560 + 8 * k, 50, k + 1));
    return pages;
  }

  std::filesystem::path Write(const std::vector<PageImage>& pages, const std::string& name) {
    std::string error;
    const Bytes bytes = esproduce::MakeTiff(pages, GetParam().compression, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }

  TempDir dir_;
};

TEST_P(PictornPages, SinglePageGivesItsAttributesAndPixels) {
  // A4: at 300 dpi for bitonal pages, at 100 dpi for the bulkier gray and colour ones.
  const bool bitonal = GetParam().kind == PixelKind::Bitonal;
  const PageImage page = bitonal ? MakePage(PixelKind::Bitonal, 2480, 3508, 300, 1) : MakePage(GetParam().kind, 827, 1169, 100, 1);
  const auto path = Write({page}, "1.pg");
  const OpenFile file(path);
  ASSERT_TRUE(file.IsOpen());

  EXPECT_EQ(PictornImageCount(file.Handle()), 1);
  const Page read = ReadImage(file.Handle(), 0);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  ASSERT_NE(read.attrs, nullptr);
  EXPECT_EQ(read.attrs->Scope(), ids::kScopePage);
  ExpectAttributes(read, page);
  if (bitonal) {
    EXPECT_EQ(read.Attr(ids::kPageWidth), 2100);
    EXPECT_EQ(read.Attr(ids::kPageHeight), 2970);
  }
  EXPECT_STREQ(read.Info().compression, GetParam().name);
  EXPECT_GT(read.size, 0u);
  EXPECT_LT(read.size, std::filesystem::file_size(path));
  EXPECT_TRUE(DecodesAs(read.image, page, GetParam().tolerance));
}

TEST_P(PictornPages, FivePagesAreReadByIndex) {
  const std::vector<PageImage> pages = FivePages();
  const OpenFile file(Write(pages, "1.pg"));
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(PictornImageCount(file.Handle()), 5);
  for (std::int32_t k = 0; k < 5; ++k) {
    SCOPED_TRACE("image " + std::to_string(k));
    const Page read = ReadImage(file.Handle(), k);
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    ExpectAttributes(read, pages[k]);
    EXPECT_EQ(read.Info().index, static_cast<std::uint32_t>(k));
    EXPECT_TRUE(DecodesAs(read.image, pages[k], GetParam().tolerance));
  }
}

TEST_P(PictornPages, IndexBeyondTheImagesFailsWithoutOutputs) {
  const OpenFile file(Write(FivePages(), "1.pg"));
  ASSERT_TRUE(file.IsOpen());
  for (const std::int32_t index : {5, 6, kPictornMaxImages, -1}) {
    std::uint64_t image = 0x1234;
    std::uint32_t size = 77;
    CAttrContainer* attrs = nullptr;
    EXPECT_NE(GT_CreatePageAttrsFromHandle(file.Handle(), index, &image, &size, attrs, 1), kPictornOk) << index;
    EXPECT_EQ(image, 0x1234u);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(attrs, nullptr);
  }
}

TEST_P(PictornPages, FilePositionDoesNotMatter) {
  const std::vector<PageImage> pages = FivePages();
  const auto path = Write(pages, "1.pg");
  const OpenFile file(path);
  ASSERT_TRUE(file.IsOpen());
  for (const std::uint64_t position : {std::uint64_t{4}, std::uint64_t{std::filesystem::file_size(path)}}) {
    ASSERT_TRUE(es::platform::Os().Seek(file.Handle(), position));
    EXPECT_EQ(PictornImageCount(file.Handle()), 5);
    const Page read = ReadImage(file.Handle(), 3);
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    EXPECT_TRUE(DecodesAs(read.image, pages[3], GetParam().tolerance));
  }
}

TEST_P(PictornPages, SavedPageReopensAsTheSameImage) {
  const std::vector<PageImage> pages = FivePages();
  const OpenFile file(Write(pages, "1.pg"));
  ASSERT_TRUE(file.IsOpen());
  const Page read = ReadImage(file.Handle(), 2);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  const auto saved = dir_ / "saved page.tif";
  ASSERT_TRUE(PictornSavePage(read.image, Utf8(saved).c_str())) << PictornLastError();

  const OpenFile again(saved);
  ASSERT_TRUE(again.IsOpen());
  EXPECT_EQ(PictornImageCount(again.Handle()), 1);
  const Page reread = ReadImage(again.Handle(), 0);
  ASSERT_EQ(reread.result, kPictornOk) << PictornLastError();
  ExpectAttributes(reread, pages[2]);
  EXPECT_TRUE(DecodesAs(reread.image, pages[2], GetParam().tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Compressions, PictornPages,
    testing::Values(Case{Compression::None, PixelKind::Bitonal, "none", 0},
                    Case{Compression::PackBits, PixelKind::Bitonal, "PackBits", 0},
                    Case{Compression::Lzw, PixelKind::Bitonal, "LZW", 0},
                    Case{Compression::CcittG3, PixelKind::Bitonal, "CCITT G3", 0},
                    Case{Compression::CcittG4, PixelKind::Bitonal, "CCITT G4", 0},
                    Case{Compression::None, PixelKind::Gray8, "none", 0},
                    Case{Compression::Lzw, PixelKind::Gray8, "LZW", 0},
                    Case{Compression::PackBits, PixelKind::Rgb24, "PackBits", 0},
                    Case{Compression::Lzw, PixelKind::Rgb24, "LZW", 0},
                    Case{Compression::Jpeg, PixelKind::Gray8, "JPEG", 3},
                    Case{Compression::Jpeg, PixelKind::Rgb24, "JPEG", 4}),
    CaseName);

// ---- Attributes from the file's resolution ---------------------------------------------

// Sets the value of a SHORT entry, or the numerator of a RATIONAL one, in the first
// directory of a little-endian file as the producer writes it.
void Patch(Bytes& tiff, std::uint16_t tag, std::uint32_t value) {
  auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(tiff[at] | tiff[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  const std::size_t ifd = u32(4);
  for (std::size_t i = 0, n = u16(ifd); i < n; ++i) {
    const std::size_t entry = ifd + 2 + 12 * i;
    if (u16(entry) != tag) continue;
    const std::size_t at = u16(entry + 2) == 5 ? u32(entry + 8) : entry + 8;
    for (int b = 0; b < 4; ++b) tiff[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
    return;
  }
  ADD_FAILURE() << "no tag " << tag;
}

class PictornAttributes : public testing::Test {
 protected:
  Page Read(const Bytes& bytes) {
    WriteFile(dir_ / "1.pg", bytes);
    const OpenFile file(dir_ / "1.pg");
    EXPECT_TRUE(file.IsOpen());
    return ReadImage(file.Handle(), 0);
  }
  Bytes Tiff(const PageImage& page) {
    std::string error;
    Bytes bytes = esproduce::MakeTiff({page}, Compression::CcittG4, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
  }
  TempDir dir_;
};

TEST_F(PictornAttributes, CentimetreResolutionIsConverted) {
  Bytes tiff = Tiff(esproduce::MakeBitonalPage(1600, 2400, 80, 1));
  Patch(tiff, 296, 3);  // resolution unit: centimetre, so 80 dots/cm = 203.2 dpi
  const Page read = Read(tiff);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), 203);
  EXPECT_EQ(read.Attr(ids::kPageResolutionY), 203);
  EXPECT_EQ(read.Attr(ids::kPageWidth), 2000);   // 1600 px / 80 per cm = 20 cm
  EXPECT_EQ(read.Attr(ids::kPageHeight), 3000);
}

TEST_F(PictornAttributes, ResolutionWithoutUnitCountsAs300Dpi) {
  Bytes tiff = Tiff(esproduce::MakeBitonalPage(600, 900, 72, 1));
  Patch(tiff, 296, 1);
  const Page read = Read(tiff);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), 300);
  EXPECT_EQ(read.Attr(ids::kPageResolutionY), 300);
  EXPECT_EQ(read.Attr(ids::kPageWidth), 508);
  EXPECT_EQ(read.Attr(ids::kPageHeight), 762);
}

TEST_F(PictornAttributes, UnusableResolutionCountsAs300Dpi) {
  Bytes tiff = Tiff(esproduce::MakeBitonalPage(600, 900, 72, 1));
  Patch(tiff, 282, 0);
  Patch(tiff, 283, 0);
  const Page read = Read(tiff);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), 300);
  EXPECT_EQ(read.Attr(ids::kPageResolutionY), 300);
}

TEST_F(PictornAttributes, FaxResolutionKeepsBothAxes) {
  PageImage page = esproduce::MakeBitonalPage(1728, 1100, 204, 1);
  page.yDpi = 98;
  const Page read = Read(Tiff(page));
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  ExpectAttributes(read, page);
  EXPECT_EQ(read.Attr(ids::kPageWidth), 2152);
  EXPECT_EQ(read.Attr(ids::kPageHeight), 2851);
}

TEST_F(PictornAttributes, GivenContainerIsFilledNotReplaced) {
  WriteFile(dir_ / "1.pg", Tiff(esproduce::MakeBitonalPage(600, 900, 150, 1)));
  const OpenFile file(dir_ / "1.pg");
  ASSERT_TRUE(file.IsOpen());
  auto* given = new CAttrContainer(ids::kScopePage);
  given->SetAttr(ids::kSomeOtherPageAttr, 1L, 0);
  given->SetAttr(ids::kPageResolutionX, 1L, 0);
  CAttrContainer* page = given;
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(GT_CreatePageAttrsFromHandle(file.Handle(), 0, &image, &size, page, 1), kPictornOk);
  EXPECT_EQ(page, given);
  long value = 0;
  EXPECT_TRUE(page->GetAttr(ids::kSomeOtherPageAttr, &value, 0));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(page->GetAttr(ids::kPageResolutionX, &value, 0));
  EXPECT_EQ(value, 150);
  EXPECT_EQ(page->Count(), 6u);
  PictornReleaseImage(image);
  page->Destroy();
}

TEST_F(PictornAttributes, DocumentContainerIsRefused) {
  WriteFile(dir_ / "1.pg", Tiff(esproduce::MakeBitonalPage(600, 900, 150, 1)));
  const OpenFile file(dir_ / "1.pg");
  ASSERT_TRUE(file.IsOpen());
  CAttrContainer document(ids::kScopeDocument);
  CAttrContainer* page = &document;
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(GT_CreatePageAttrsFromHandle(file.Handle(), 0, &image, &size, page, 1), kPictornBadArgument);
  EXPECT_EQ(GT_CreatePageAttrsFromHandle(file.Handle(), 0, &image, &size, page, 0), kPictornBadArgument);
  EXPECT_EQ(document.Count(), 0u);
  EXPECT_EQ(image, 0u);
}

TEST_F(PictornAttributes, ReleasedImageIsForgotten) {
  WriteFile(dir_ / "1.pg", Tiff(esproduce::MakeBitonalPage(600, 900, 150, 1)));
  const OpenFile file(dir_ / "1.pg");
  ASSERT_TRUE(file.IsOpen());
  Page read = ReadImage(file.Handle(), 0);
  ASSERT_EQ(read.result, kPictornOk);
  const std::uint64_t image = read.image;
  PictornReleaseImage(image);
  read.image = 0;
  PictornInfo info{};
  EXPECT_FALSE(PictornImageInfo(image, &info));
  PictornPixels pixels{};
  EXPECT_FALSE(PictornDecode(image, &pixels));
  EXPECT_EQ(pixels.data, nullptr);
  EXPECT_FALSE(PictornSavePage(image, Utf8(dir_ / "x.tif").c_str()));
  PictornReleaseImage(image);  // twice: ignored
  PictornReleaseImage(0);
  PictornReleaseImage(image + 8);  // never handed out: ignored, never freed
}

// ---- The replacement image shipped beside the module ----------------------------------

TEST(PictornReplacementImage, LiesBesideTheModuleAndIsReadable) {
  const std::filesystem::path folder = estest::BinFolder();
  const OpenFile file(folder / "DualStreamPdf.tif");
  ASSERT_TRUE(file.IsOpen()) << folder / "DualStreamPdf.tif";
  EXPECT_EQ(PictornImageCount(file.Handle()), 1);
  const Page read = ReadImage(file.Handle(), 0);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), 200);
  EXPECT_EQ(read.Attr(ids::kPageBitDepth), 1);
  EXPECT_EQ(read.Attr(ids::kPageWidth), 2101);   // A4 in whole pixels: 1654 x 2339
  EXPECT_EQ(read.Attr(ids::kPageHeight), 2971);
  PictornPixels pixels{};
  ASSERT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
  auto black = [&](std::uint32_t x, std::uint32_t y) { return (pixels.data[y * pixels.stride + x / 8] >> (7 - x % 8)) & 1; };
  EXPECT_TRUE(black(105, 500));   // the frame
  EXPECT_FALSE(black(800, 600));  // inside it
  PictornFreePixels(&pixels);
}

}  // namespace
}  // namespace pictorn_test
