// Page files written by other programs (the corpus that make_corpus.sh builds): each image
// reaches the host with its attributes and pixels right, or fails with its reason.
#include <gtest/gtest.h>

#include <sstream>

#include "PictornSupport.h"
#include "tests/support/BuildTree.h"

namespace pictorn_test {
namespace {

namespace fs = std::filesystem;

constexpr long kRendered = -2;  // the tolerance "r"

// One row of expect.tsv; "-" reads as -1 (not given).
struct Row {
  std::string file, reference, outcome;
  long index, count, width, height, xDpi, yDpi, bits, tolerance;
};

std::vector<Row> Rows(const fs::path& table) {
  std::vector<Row> rows;
  std::ifstream in(table);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);  // tab-separated, no blanks inside a field
    std::string f[11], more;
    for (std::string& field : f) fields >> field;
    if (f[10].empty() || fields >> more) {
      ADD_FAILURE() << "not a row of 11 fields: " << line;
      continue;
    }
    long n[10];
    for (int i : {1, 2, 3, 4, 5, 6, 7, 9}) n[i] = f[i] == "-" ? -1 : f[i] == "r" ? kRendered : std::stol(f[i]);
    rows.push_back({f[0], f[8], f[10], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[9]});
  }
  return rows;
}

// A PBM, PGM or PPM file (binary, 8-bit, no comments) as the library's pixels.
bool ReadPnm(const fs::path& path, Raster* ref) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  std::uint32_t most = 255;
  in >> magic >> ref->width >> ref->height;
  if (magic != "P4") in >> most;
  in.get();  // the one blank after the header
  ref->format = magic == "P4" ? 1 : magic == "P5" ? 8 : 24;
  ref->stride = ref->format == 1 ? (ref->width + 7) / 8 : ref->width * (ref->format / 8);
  ref->data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return (magic == "P4" || magic == "P5" || magic == "P6") && most == 255 &&
         ref->data.size() >= std::size_t{ref->stride} * ref->height;
}

Tolerance ToleranceOf(const Row& row) {
  // Wine's imaging component has a JPEG decoder of its own: decoders differ in their
  // inverse transform and chroma upsampling; the mean difference stays within 1.
  if (WineImaging() && row.file.find("jpeg") != std::string::npos) return {255, 1};
  // A rendered page's images are resampled, the edges blend.
  if (row.tolerance == kRendered) return {255, 1, 0.02};
  return {static_cast<int>(row.tolerance)};
}

class PictornCorpus : public testing::Test {
 protected:
  fs::path corpus_ = estest::BinFolder() / "pictorn-corpus";
  TempDir dir_;

  // The image's attributes and pixels are right, and so are those of the page file the
  // host stores.
  void ExpectPage(const Page& read, const Row& row) {
    ASSERT_EQ(read.result, kPictornOk) << PictornLastError();
    const auto width = static_cast<std::uint32_t>(row.width), height = static_cast<std::uint32_t>(row.height);
    ExpectAttributes(read, width, height, row.xDpi, row.yDpi, row.bits);
    if (row.reference == "-") return;
    Raster reference;
    ASSERT_TRUE(ReadPnm(corpus_ / row.reference, &reference)) << row.reference;
    EXPECT_TRUE(DecodesAs(read.image, reference, ToleranceOf(row)));
    ASSERT_TRUE(PictornSavePage(read.image, Utf8(dir_ / "stored page.tif").c_str())) << PictornLastError();
    const OpenFile stored(dir_ / "stored page.tif");
    ASSERT_EQ(PictornImageCount(stored.handle), 1) << PictornLastError();
    const Page again = ReadImage(stored.handle, 0);
    ASSERT_EQ(again.result, kPictornOk) << "stored page: " << PictornLastError();
    ExpectAttributes(again, width, height, row.xDpi, row.yDpi, row.bits);
    EXPECT_TRUE(DecodesAs(again.image, reference, ToleranceOf(row))) << "stored page";
  }
};

TEST_F(PictornCorpus, EveryImageReadsAsItsReferenceOrFailsWithItsReason) {
  const std::vector<Row> rows = Rows(corpus_ / "expect.tsv");
  ASSERT_GE(rows.size(), 39u) << corpus_;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file + " image " + std::to_string(row.index));
    if (row.file.ends_with(".pdf")) {
      std::ifstream in(corpus_ / row.file, std::ios::binary);
      const Bytes pdf(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
      const Page read = ReadMemory(pdf);
      if (!PICTORN_RENDERS_PDF) {
        EXPECT_EQ(read.result, kPictornNoRenderer);
        EXPECT_TRUE(read.Untouched());
      } else if (row.outcome != "any") {  // "any": bounded in time and memory is all it must be
        ExpectPage(read, row);
        EXPECT_EQ(read.size, pdf.size());
        EXPECT_STREQ(read.Info().compression, "PDF");
      }
      continue;
    }
    const OpenFile file(corpus_ / row.file);
    ASSERT_TRUE(file.IsOpen());
    const std::int32_t count = PictornImageCount(file.handle);
    EXPECT_EQ(count, row.count) << PictornLastError();
    if (count == kPictornTooManyImages) {
      // Neither counted nor read: the file is kept with its reason.
      EXPECT_NE(std::string(PictornLastError()).find("more than 50000"), std::string::npos) << PictornLastError();
      const Page read = ReadImage(file.handle, 0);
      EXPECT_EQ(read.result, kPictornTooLarge);
      EXPECT_TRUE(read.Untouched());
      continue;
    }
    const Page read = ReadImage(file.handle, static_cast<std::int32_t>(row.index));
    // Wine's imaging component reads no planar TIFF images: such pages fail there, saying so.
    if (row.outcome.starts_with("fail:") || (row.file.find("planar") != std::string::npos && WineImaging())) {
      EXPECT_NE(read.result, kPictornOk);
      EXPECT_TRUE(read.Untouched());
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
