// Images from bytes in memory: TIFF files and PDF files.
#include <gtest/gtest.h>

#include <cstdio>

#include "PictornSupport.h"

namespace pictorn_test {
namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A one-page A4 PDF with a black rectangle from (100, 100) to (300, 400) points, measured
// from the bottom left.
Bytes SmallPdf() {
  const std::string content = "0 0 0 rg 100 100 200 300 re f\n";
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
  };
  std::string pdf = "%PDF-1.4\n", xref = "xref\n0 5\n0000000000 65535 f \n";
  for (std::size_t i = 0; i < 4; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", pdf.size());
    xref += line;
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  return Text(pdf + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(pdf.size()) + "\n%%EOF\n");
}

// The result for these bytes; a failure leaves every output as it was.
std::int32_t FromMemory(const Bytes& bytes) {
  std::uint64_t image = 0x55;
  std::uint32_t size = 9;
  CAttrContainer* attrs = nullptr;
  const std::int32_t result =
      PictornImageFromMemory(&image, 0, &size, attrs, 1, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  if (result == kPictornOk) {
    EXPECT_NE(attrs, nullptr);
    PictornReleaseImage(image);
    if (attrs) attrs->Destroy();
  } else {
    EXPECT_EQ(image, 0x55u);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(attrs, nullptr);
  }
  return result;
}

TEST(PictornMemory, TiffBytesGiveTheFirstImage) {
  std::vector<PageImage> pages;
  for (std::uint32_t k = 0; k < 3; ++k) pages.push_back(esproduce::MakeBitonalPage(300 + 10 * k, 400, 60, k + 1));
  Bytes bytes = Tiff(pages, Compression::CcittG4);
  const Page read = ReadMemory(bytes);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  ExpectAttributes(read, pages[0]);
  EXPECT_EQ(read.Info().index, 0u);
  // The library keeps its own copy of the bytes.
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  bytes = Bytes();
  EXPECT_TRUE(DecodesAs(read.image, RasterOf(pages[0])));
}

TEST(PictornMemory, OtherBytesFail) {
  const struct {
    const char* name;
    Bytes bytes;
    std::int32_t result;
  } rows[] = {
      {"PDF", SmallPdf(), PICTORN_RENDERS_PDF ? kPictornOk : kPictornNoRenderer},
      {"broken PDF", Text("%PDF-1.4\nnothing else\n"), PICTORN_RENDERS_PDF ? kPictornRenderFailed : kPictornNoRenderer},
      {"GIF", Text("GIF89a and so on"), kPictornNotAnImage},
      {"nothing", Bytes(), kPictornNotAnImage},
      {"PDF mark alone", Text("%PDF"), kPictornNotAnImage},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FromMemory(row.bytes), row.result);
  }
}

#if PICTORN_RENDERS_PDF
TEST(PictornMemory, PdfIsRenderedAt200Dpi) {
  const Bytes pdf = SmallPdf();
  const Page read = ReadMemory(pdf);
  ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
  EXPECT_EQ(read.size, pdf.size());
  EXPECT_STREQ(read.Info().compression, "PDF");
  EXPECT_EQ(read.Attr(kPictornAttrResolutionX), 200);
  EXPECT_EQ(read.Attr(kPictornAttrResolutionY), 200);
  EXPECT_EQ(read.Attr(kPictornAttrBitDepth), 24);
  EXPECT_NEAR(read.Attr(kPictornAttrWidth), 2099, 3);   // 595 points
  EXPECT_NEAR(read.Attr(kPictornAttrHeight), 2970, 3);  // 842 points
  PictornPixels pixels{};
  ASSERT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
  EXPECT_EQ(pixels.format, 24u);
  auto black = [&](std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = pixels.data + std::size_t{y} * pixels.stride + 3 * x;
    return p[0] < 64 && p[1] < 64 && p[2] < 64;
  };
  EXPECT_TRUE(black(200 * 200 / 72, (842 - 250) * 200 / 72));  // inside the rectangle
  EXPECT_FALSE(black(50, 50));
  EXPECT_FALSE(black(400 * 200 / 72, (842 - 250) * 200 / 72));
  PictornFreePixels(&pixels);
}
#endif

TEST(PictornMemory, ArgumentsAndHandlesAreChecked) {
  const Bytes bytes = Tiff({esproduce::MakeBitonalPage(64, 64, 72, 1)}, Compression::None);
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
  EXPECT_EQ(FromMemory(bytes), kPictornOk);
  // A handle that is no file.
  EXPECT_LT(PictornImageCount(-1), 0);
  EXPECT_EQ(GT_CreatePageAttrsFromHandle(-1, 0, &image, &size, attrs, 1), kPictornReadFailed);
  EXPECT_EQ(attrs, nullptr);
}

}  // namespace
}  // namespace pictorn_test
