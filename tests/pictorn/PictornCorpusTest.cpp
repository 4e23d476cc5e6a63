// Page files written by other programs (the corpus that make_corpus.sh builds): each image
// reaches the host with its attributes and pixels right, or fails with its reason.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "PictornSupport.h"
#include "tests/support/BuildTree.h"

namespace pictorn_test {
namespace {

namespace fs = std::filesystem;
namespace ids = pictorn_ids;

// One row of expect.tsv; "-" reads as -1 (not given).
struct Row {
  std::string file;
  long index, count, width, height, xDpi, yDpi, bits;
  std::string reference;
  long tolerance;
  std::string outcome;
};

// A rendered page's tolerance ("r"): its images are resampled, the edges blend.
constexpr long kRendered = -2;
// JPEG decoded by another decoder than the reference's: decoders may differ in their
// inverse transform and chroma upsampling; the mean difference stays within 1.
constexpr long kOtherJpegDecoder = -3;

long Number(const std::string& text) { return text == "-" ? -1 : text == "r" ? kRendered : std::stol(text); }

std::vector<Row> Rows(const fs::path& table) {
  std::vector<Row> rows;
  std::ifstream in(table);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() != 11) {
      ADD_FAILURE() << "row of " << f.size() << " fields: " << line;
      continue;
    }
    rows.push_back({f[0], Number(f[1]), Number(f[2]), Number(f[3]), Number(f[4]), Number(f[5]), Number(f[6]),
                    Number(f[7]), f[8], Number(f[9]), f[10]});
  }
  return rows;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A PBM, PGM or PNM file (binary, 8-bit), as the library's pixel formats 1, 8 and 24.
struct Reference {
  std::uint32_t width = 0, height = 0, format = 0, stride = 0;
  Bytes data;
};

bool ReadPnm(const fs::path& path, Reference* ref) {
  const Bytes bytes = ReadAll(path);
  std::size_t at = 2;
  auto number = [&]() {
    for (;;) {
      while (at < bytes.size() && std::isspace(bytes[at])) ++at;
      if (at < bytes.size() && bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
        continue;
      }
      break;
    }
    std::uint32_t value = 0;
    while (at < bytes.size() && std::isdigit(bytes[at])) value = value * 10 + (bytes[at++] - '0');
    return value;
  };
  if (bytes.size() < 3 || bytes[0] != 'P' || bytes[1] < '4' || bytes[1] > '6') return false;
  ref->format = bytes[1] == '4' ? 1 : bytes[1] == '5' ? 8 : 24;
  ref->width = number();
  ref->height = number();
  if (ref->format != 1 && number() != 255) return false;
  ++at;  // the one blank after the header
  ref->stride = ref->format == 1 ? (ref->width + 7) / 8 : ref->width * (ref->format / 8);
  if (bytes.size() < at + std::size_t{ref->stride} * ref->height) return false;
  ref->data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return true;
}

// The pixels match: bitonal exactly, gray and colour within `tolerance` per sample, a
// rendered page mostly so.
testing::AssertionResult SamePixels(const PictornPixels& got, const Reference& want, long tolerance) {
  if (got.width != want.width || got.height != want.height || got.format != want.format) {
    return testing::AssertionFailure() << "decoded " << got.width << "x" << got.height << " format " << got.format
                                       << ", reference " << want.width << "x" << want.height << " format "
                                       << want.format;
  }
  std::uint64_t total = 0;
  std::uint64_t beyond = 0;
  std::uint64_t samples = 0;
  for (std::uint32_t y = 0; y < want.height; ++y) {
    const std::uint8_t* a = got.data + std::size_t{y} * got.stride;
    const std::uint8_t* b = want.data.data() + std::size_t{y} * want.stride;
    const std::uint32_t count = want.format == 1 ? want.width : want.width * (want.format / 8);
    for (std::uint32_t i = 0; i < count; ++i) {
      const int u = want.format == 1 ? (a[i / 8] >> (7 - i % 8)) & 1 : a[i];
      const int v = want.format == 1 ? (b[i / 8] >> (7 - i % 8)) & 1 : b[i];
      total += static_cast<std::uint64_t>(std::abs(u - v));
      beyond += std::abs(u - v) > 1;
      ++samples;
      if (tolerance >= 0 && std::abs(u - v) > (want.format == 1 ? 0 : tolerance)) {
        return testing::AssertionFailure() << "row " << y << " sample " << i << " is " << u << ", reference " << v;
      }
    }
  }
  if ((tolerance == kRendered && beyond * 50 > samples) || (tolerance < 0 && total > samples)) {
    return testing::AssertionFailure() << "mean difference " << static_cast<double>(total) / samples << ", "
                                       << beyond << " of " << samples << " samples more than 1 apart";
  }
  return testing::AssertionSuccess();
}

class PictornCorpus : public testing::Test {
 protected:
  fs::path corpus_ = estest::BinFolder() / "pictorn-corpus";
  TempDir dir_;

  // The image's attributes, pixels and page file are right.
  void ExpectPage(const Page& read, const Row& row) {
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    EXPECT_EQ(read.Attr(ids::kPageResolutionX), row.xDpi);
    EXPECT_EQ(read.Attr(ids::kPageResolutionY), row.yDpi);
    EXPECT_EQ(read.Attr(ids::kPageBitDepth), row.bits);
    EXPECT_EQ(read.Attr(ids::kPageWidth), Tenths(static_cast<std::uint32_t>(row.width), static_cast<double>(row.xDpi)));
    EXPECT_EQ(read.Attr(ids::kPageHeight), Tenths(static_cast<std::uint32_t>(row.height), static_cast<double>(row.yDpi)));
    const PictornInfo info = read.Info();
    EXPECT_EQ(info.width, static_cast<std::uint32_t>(row.width));
    EXPECT_EQ(info.height, static_cast<std::uint32_t>(row.height));
    if (row.reference == "-") return;
    Reference reference;
    ASSERT_TRUE(ReadPnm(corpus_ / row.reference, &reference)) << row.reference;
    PictornPixels pixels{};
    ASSERT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
    // Wine's imaging component has a JPEG decoder of its own.
    const long tolerance = WineImaging() && row.file.find("jpeg") != std::string::npos ? kOtherJpegDecoder : row.tolerance;
    EXPECT_TRUE(SamePixels(pixels, reference, tolerance));
    PictornFreePixels(&pixels);

    // The page file the host stores reads back as the same page.
    PictornFileBytes file{};
    ASSERT_TRUE(PictornPageFile(read.image, &file)) << PictornLastError();
    WriteFile(dir_ / "stored.tif", Bytes(file.data, file.data + file.size));
    PictornFreeFileBytes(&file);
    const OpenFile stored(dir_ / "stored.tif");
    ASSERT_EQ(PictornImageCount(stored.Handle()), 1) << PictornLastError();
    const Page again = ReadImage(stored.Handle(), 0);
    ASSERT_EQ(again.result, kPictornOk) << "stored page: " << PictornLastError();
    EXPECT_EQ(again.Attr(ids::kPageResolutionX), row.xDpi);
    EXPECT_EQ(again.Attr(ids::kPageResolutionY), row.yDpi);
    EXPECT_EQ(again.Attr(ids::kPageBitDepth), row.bits);
    ASSERT_TRUE(PictornDecode(again.image, &pixels)) << PictornLastError();
    EXPECT_TRUE(SamePixels(pixels, reference, tolerance)) << "stored page";
    PictornFreePixels(&pixels);
  }

  void ExpectPdf(const Row& row) {
    const Page read = ReadMemory(ReadAll(corpus_ / row.file));
#if !PICTORN_RENDERS_PDF
    EXPECT_EQ(read.result, kPictornNoRenderer);
    return;
#endif
    if (row.outcome == "any") return;  // bounded in time and memory is all it must be
    ExpectPage(read, row);
  }
};

TEST_F(PictornCorpus, EveryImageReadsAsItsReferenceOrFailsWithItsReason) {
  const std::vector<Row> rows = Rows(corpus_ / "expect.tsv");
  ASSERT_GE(rows.size(), 39u) << corpus_;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " image " + std::to_string(row.index));
    if (row.file.ends_with(".pdf")) {
      ExpectPdf(row);
      continue;
    }
    const OpenFile file(corpus_ / row.file);
    ASSERT_TRUE(file.IsOpen());
    const std::int32_t count = PictornImageCount(file.Handle());
    EXPECT_EQ(count, row.count) << PictornLastError();
    if (count == kPictornTooManyImages) {
      // Neither counted nor read: the file is kept with its reason.
      EXPECT_NE(std::string(PictornLastError()).find("more than 50000"), std::string::npos) << PictornLastError();
      const Page read = ReadImage(file.Handle(), 0);
      EXPECT_EQ(read.result, kPictornTooLarge);
      EXPECT_EQ(read.attrs, nullptr);
      continue;
    }
    const Page read = ReadImage(file.Handle(), static_cast<std::int32_t>(row.index));
    // Wine's imaging component reads no planar TIFF images: such pages fail there, saying so.
    const bool expectFailure =
        row.outcome.starts_with("fail:") || (row.file.find("planar") != std::string::npos && WineImaging());
    if (expectFailure) {
      EXPECT_NE(read.result, kPictornOk);
      EXPECT_EQ(read.attrs, nullptr);
      const std::string why = PictornLastError();
      EXPECT_NE(why.find(row.outcome.starts_with("fail:") ? row.outcome.substr(5) : ""), std::string::npos) << why;
      EXPECT_GT(why.size(), 10u);
      continue;
    }
    ExpectPage(read, row);
  }
}

}  // namespace
}  // namespace pictorn_test
