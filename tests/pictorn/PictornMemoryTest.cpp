// Images from bytes in memory: TIFF files and PDF files.
#include <gtest/gtest.h>

#include <cstdio>

#include "PictornSupport.h"

namespace pictorn_test {
namespace {

namespace ids = pictorn_ids;

// A one-page A4 PDF with a black rectangle from (100, 100) to (300, 400) points, measured
// from the bottom left.
Bytes SmallPdf() {
  const std::string content = "0 0 0 rg 100 100 200 300 re f\n";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return Bytes(pdf.begin(), pdf.end());
}

[[maybe_unused]] bool Black(const PictornPixels& pixels, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = pixels.data + std::size_t{y} * pixels.stride + 3 * x;
  return p[0] < 64 && p[1] < 64 && p[2] < 64;
}

TEST(PictornMemory, TiffBytesGiveTheFirstImage) {
  std::vector<esproduce::PageImage> pages;
  for (std::uint32_t k = 0; k < 3; ++k) pages.push_back(esproduce::MakeBitonalPage(300 + 10 * k, 400, 60, k + 1));
  std::string error;
  Bytes bytes = esproduce::MakeTiff(pages, esproduce::Compression::CcittG4, &error);
  ASSERT_FALSE(bytes.empty()) << error;

  const Page read = ReadMemory(bytes);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  ExpectAttributes(read, pages[0]);
  EXPECT_EQ(read.Info().index, 0u);
  // The library keeps its own copy of the bytes.
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  bytes = Bytes();
  EXPECT_TRUE(DecodesAs(read.image, pages[0]));
}

TEST(PictornMemory, PdfIsRenderedWhereARendererIsBuiltIn) {
  const Bytes pdf = SmallPdf();
#if PICTORN_RENDERS_PDF
  const Page read = ReadMemory(pdf);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.size, pdf.size());
  EXPECT_STREQ(read.Info().compression, "PDF");
  EXPECT_EQ(read.Attr(ids::kPageResolutionX), 200);
  EXPECT_EQ(read.Attr(ids::kPageResolutionY), 200);
  EXPECT_EQ(read.Attr(ids::kPageBitDepth), 24);
  EXPECT_NEAR(read.Attr(ids::kPageWidth), 2099, 3);   // 595 points
  EXPECT_NEAR(read.Attr(ids::kPageHeight), 2970, 3);  // 842 points
  PictornPixels pixels{};
  ASSERT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
  EXPECT_EQ(pixels.format, 24u);
  EXPECT_TRUE(Black(pixels, 200 * 200 / 72, (842 - 250) * 200 / 72));  // inside the rectangle
  EXPECT_FALSE(Black(pixels, 50, 50));
  EXPECT_FALSE(Black(pixels, 400 * 200 / 72, (842 - 250) * 200 / 72));
  PictornFreePixels(&pixels);
#else
  std::uint64_t image = 0x55;
  std::uint32_t size = 9;
  CAttrContainer* attrs = nullptr;
  EXPECT_EQ(PictornImageFromMemory(&image, 0, &size, attrs, 1, pdf.data(), static_cast<std::uint32_t>(pdf.size())),
            kPictornNoRenderer);
  EXPECT_EQ(image, 0x55u);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(attrs, nullptr);
#endif
}

TEST(PictornMemory, BrokenPdfFails) {
  const std::string text = "%PDF-1.4\nnothing else\n";
  const Page read = ReadMemory(Bytes(text.begin(), text.end()));
  EXPECT_EQ(read.result, PICTORN_RENDERS_PDF ? kPictornRenderFailed : kPictornNoRenderer);
  EXPECT_EQ(read.attrs, nullptr);
}

TEST(PictornMemory, OtherBytesAreNotAnImage) {
  const std::string text = "GIF89a and so on";
  EXPECT_EQ(ReadMemory(Bytes(text.begin(), text.end())).result, kPictornNotAnImage);
  EXPECT_EQ(ReadMemory(Bytes()).result, kPictornNotAnImage);
  EXPECT_EQ(ReadMemory(Bytes{'%', 'P', 'D', 'F'}).result, kPictornNotAnImage);
}

TEST(PictornMemory, ArgumentsAreChecked) {
  const Bytes bytes = esproduce::MakeTiff({esproduce::MakeBitonalPage(64, 64, 72, 1)}, esproduce::Compression::None, nullptr);
  const auto count = static_cast<std::uint32_t>(bytes.size());
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  CAttrContainer* attrs = nullptr;
  EXPECT_EQ(PictornImageFromMemory(&image, 1, &size, attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&image, 0, &size, attrs, 0, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(nullptr, 0, &size, attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&image, 0, nullptr, attrs, 1, bytes.data(), count), kPictornBadArgument);
  EXPECT_EQ(PictornImageFromMemory(&image, 0, &size, attrs, 1, nullptr, count), kPictornBadArgument);
  EXPECT_EQ(attrs, nullptr);
  ASSERT_EQ(PictornImageFromMemory(&image, 0, &size, attrs, 1, bytes.data(), count), kPictornOk);
  ASSERT_NE(attrs, nullptr);
  PictornReleaseImage(image);
  attrs->Destroy();
}

TEST(PictornMemory, UnreadableFileHandle) {
  EXPECT_LT(PictornImageCount(-1), 0);
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  CAttrContainer* attrs = nullptr;
  EXPECT_EQ(GT_CreatePageAttrsFromHandle(-1, 0, &image, &size, attrs, 1), kPictornReadFailed);
  EXPECT_EQ(attrs, nullptr);
}

}  // namespace
}  // namespace pictorn_test
