// Damaged page files: every one fails cleanly, none crashes or hangs.
#include <gtest/gtest.h>

#include <random>

#include "PictornSupport.h"

namespace pictorn_test {
namespace {

using esproduce::Damage;

// Five small pages written in our own layout (each directory ahead of its data).
Bytes FivePages(Compression compression = Compression::CcittG4) {
  std::vector<PageImage> pages;
  const auto make = compression == Compression::Jpeg ? esproduce::MakeGrayPage : esproduce::MakeBitonalPage;
  for (std::uint32_t k = 0; k < 5; ++k) pages.push_back(make(200, 150, 40, k + 1));
  return Tiff(pages, compression);
}

TEST(PictornDamage, DamagedFileKeepsTheImagesAheadOfTheDamage) {
  const struct {
    const char* name;
    Damage damage;
    std::size_t page;
    std::int32_t countMin, countMax;
    const char* results;  // indexes 0 to 5: o ok, n not an image, - no such image, x any failure
    const char* why;      // what the first failure says
    Compression compression = Compression::CcittG4;
  } rows[] = {
      {"cut in the last page's data", Damage::CutInImageData, 4, 5, 5, "oooon-",
       "image 4: the image data runs past the end of the file (the file is cut short)"},
      {"cut in the first page's data", Damage::CutInImageData, 0, INT32_MIN, 0, "xxxxxx", nullptr},
      {"cut in a directory", Damage::CutInDirectory, 2, 2, 2, "oo----", nullptr},
      {"bad magic", Damage::BadMagic, 0, 0, 0, "nxxxxx", "not a TIFF file"},
      {"first directory beyond the end", Damage::DirectoryBeyondEnd, 0, 0, 0, "xxxxxx", nullptr},
      {"fourth directory beyond the end", Damage::DirectoryBeyondEnd, 3, 3, 3, "ooo---", nullptr},
      {"loop of directories: walked once", Damage::DirectoryLoop, 0, 5, 5, "ooooo-", nullptr},
      // Where libtiff writes the file, each page's data lies ahead of its directory and the
      // cut takes both; either way the page is lost and the others stay.
      {"cut in a JPEG file", Damage::CutInImageData, 4, 4, 5, "ooooxx", nullptr, Compression::Jpeg},
  };
  const TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (!esproduce::CanWrite(row.compression)) continue;  // no JPEG writer in this build
    Bytes bytes = FivePages(row.compression);
    std::string error;
    ASSERT_TRUE(esproduce::DamageTiff(&bytes, row.damage, row.page, &error)) << error;
    const OpenFile file(dir, bytes);
    const std::int32_t count = PictornImageCount(file.handle);
    EXPECT_GE(count, row.countMin);
    EXPECT_LE(count, row.countMax);
    std::string results, why;
    for (std::int32_t k = 0; k < 6; ++k) {
      const Page read = ReadImage(file.handle, k);
      const bool failed = read.result != kPictornOk;
      results += !failed                                 ? 'o'
                 : row.results[k] == 'x'                 ? 'x'
                 : read.result == kPictornNotAnImage     ? 'n'
                 : read.result == kPictornNoSuchImage    ? '-'
                                                         : '?';
      if (failed && why.empty()) why = PictornLastError();
      EXPECT_TRUE(!failed || read.Untouched()) << k;
    }
    EXPECT_EQ(results, row.results);
    if (row.why != nullptr) { EXPECT_EQ(why, row.why); }
  }
}

TEST(PictornDamage, FileRewrittenInPlaceIsWalkedAnew) {
  // The same file, size and time stamp: only the chain of directories changes.
  const TempDir dir;
  Bytes bytes = FivePages();
  EXPECT_EQ(PictornImageCount(OpenFile(dir, bytes).handle), 5);
  const auto stamp = std::filesystem::last_write_time(dir / "1.pg");
  auto u32 = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; };
  auto link = [&](std::size_t ifd) { return ifd + 2 + 12 * (bytes[ifd] | bytes[ifd + 1] << 8); };
  const std::size_t third = u32(link(u32(link(u32(4)))));
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(link(third)), 4, 0);
  WriteFile(dir / "1.pg", bytes);
  std::filesystem::last_write_time(dir / "1.pg", stamp);
  const OpenFile file(dir / "1.pg");
  EXPECT_EQ(PictornImageCount(file.handle), 3);
  EXPECT_EQ(ReadImage(file.handle, 3).result, kPictornNoSuchImage);
}

TEST(PictornDamage, FileAtTheImageLimitIsReadWhole) {
  // One image more is refused as a whole (the corpus's too-many.tif).
  const TempDir dir;
  const OpenFile file(dir, Tiff(std::vector<PageImage>(kPictornMaxImages, esproduce::MakeBitonalPage(8, 2, 72, 0)), Compression::CcittG4));
  EXPECT_EQ(PictornImageCount(file.handle), kPictornMaxImages);
  EXPECT_EQ(ReadImage(file.handle, kPictornMaxImages - 1).result, kPictornOk) << PictornLastError();
  EXPECT_EQ(ReadImage(file.handle, kPictornMaxImages).result, kPictornNoSuchImage);
}

// Cut at every length, or with random bytes changed: every image handed over is whole and
// decodes (unless a changed size announces a huge one, whose decoding proves nothing more).
TEST(PictornDamage, TruncatedAndCorruptFilesFailCleanly) {
  std::vector<Bytes> damaged;
  const Bytes lzw = FivePages(Compression::Lzw);
  for (std::size_t length = 0; length < lzw.size(); length += 1 + length / 16) {
    damaged.emplace_back(lzw.begin(), lzw.begin() + static_cast<std::ptrdiff_t>(length));
  }
  const std::size_t cuts = damaged.size();
  std::mt19937 random(20240611);
  for (const Compression compression :
       {Compression::CcittG4, Compression::CcittG3, Compression::Lzw, Compression::PackBits, Compression::Jpeg}) {
    if (!esproduce::CanWrite(compression)) continue;
    const Bytes whole = FivePages(compression);
    for (int round = 0; round < 60; ++round) {
      Bytes& bytes = damaged.emplace_back(whole);
      for (int c = 1 + static_cast<int>(random() % 8); c > 0; --c) {
        // Mostly the directories and values at the front; sometimes anywhere.
        const std::size_t span = random() % 4 == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 400);
        bytes[random() % span] = static_cast<std::uint8_t>(random());
      }
    }
  }
  const TempDir dir;
  for (std::size_t d = 0; d < damaged.size(); ++d) {
    SCOPED_TRACE(d < cuts ? "cut at " + std::to_string(damaged[d].size()) : "corrupt file " + std::to_string(d - cuts));
    const OpenFile file(dir, damaged[d]);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_LE(PictornImageCount(file.handle), d < cuts ? 5 : kPictornMaxImages);
    for (std::int32_t k = 0; k < 5; ++k) {
      const Page read = ReadImage(file.handle, k);
      if (read.result != kPictornOk) continue;
      const PictornInfo info = read.Info();
      if (std::uint64_t{info.width} * info.height > 4'000'000) continue;
      PictornPixels pixels{};
      EXPECT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
      PictornFreePixels(&pixels);
    }
  }
}

}  // namespace
}  // namespace pictorn_test
