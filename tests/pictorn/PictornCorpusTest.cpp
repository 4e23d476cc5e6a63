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

// One row of expect.tsv; "-" reads as -1 (not given).
struct Row {
  std::string file;
  long index, count, width, height, xDpi, yDpi, bits;
  std::string reference;
  long tolerance;
  std::string outcome;
};

constexpr long kRendered = -2;  // the tolerance "r"

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

// A PBM, PGM or PPM file (binary, 8-bit) as the library's pixels.
bool ReadPnm(const fs::path& path, Raster* ref) {
  const Bytes bytes = ReadFile(path);
  std::size_t at = 2;
  auto number = [&]() {
    while (at < bytes.size() && (std::isspace(bytes[at]) || bytes[at] == '#')) {
      const bool comment = bytes[at] == '#';  // to the end of its line
      while (++at < bytes.size() && comment && bytes[at] != '\n') {
      }
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

    PictornFileBytes file{};
    ASSERT_TRUE(PictornPageFile(read.image, &file)) << PictornLastError();
    WriteFile(dir_ / "stored.tif", Bytes(file.data, file.data + file.size));
    PictornFreeFileBytes(&file);
    const OpenFile stored(dir_ / "stored.tif");
    ASSERT_EQ(PictornImageCount(stored.Handle()), 1) << PictornLastError();
    const Page again = ReadImage(stored.Handle(), 0);
    ASSERT_EQ(again.result, kPictornOk) << "stored page: " << PictornLastError();
    ExpectAttributes(again, width, height, row.xDpi, row.yDpi, row.bits);
    EXPECT_TRUE(DecodesAs(again.image, reference, ToleranceOf(row))) << "stored page";
  }

  void ExpectPdf(const Row& row) {
    const Page read = ReadMemory(ReadFile(corpus_ / row.file));
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
