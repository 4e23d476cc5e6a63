// Damaged page files: every one fails cleanly, none crashes or hangs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "PictornSupport.h"

namespace pictorn_test {
namespace {

using esproduce::Compression;
using esproduce::Damage;
using esproduce::PageImage;

class PictornDamage : public testing::Test {
 protected:
  // Five small bitonal pages written in our own layout (each directory ahead of its data).
  Bytes FivePages(Compression compression = Compression::CcittG4) {
    std::vector<PageImage> pages;
    for (std::uint32_t k = 0; k < 5; ++k) {
      pages.push_back(compression == Compression::Jpeg ? esproduce::MakeGrayPage(200, 150, 40, k + 1)
                                                       : esproduce::MakeBitonalPage(200, 150, 40, k + 1));
    }
    std::string error;
    Bytes bytes = esproduce::MakeTiff(pages, compression, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
  }

  Bytes Damaged(Bytes bytes, Damage damage, std::size_t page) {
    std::string error;
    EXPECT_TRUE(esproduce::DamageTiff(&bytes, damage, page, &error)) << error;
    return bytes;
  }

  // The image count and the result for each index 0..5 of a file with these bytes.
  struct Outcome {
    std::int32_t count;
    std::vector<std::int32_t> results;
  };
  Outcome Read(const Bytes& bytes) {
    WriteFile(dir_ / "1.pg", bytes);
    const OpenFile file(dir_ / "1.pg");
    EXPECT_TRUE(file.IsOpen());
    Outcome outcome{PictornImageCount(file.Handle()), {}};
    for (std::int32_t k = 0; k < 6; ++k) outcome.results.push_back(ReadImage(file.Handle(), k).result);
    return outcome;
  }

  TempDir dir_;
};

TEST_F(PictornDamage, CutInTheLastPagesDataLosesOnlyThatPage) {
  const Outcome outcome = Read(Damaged(FivePages(), Damage::CutInImageData, 4));
  EXPECT_EQ(outcome.count, 5);
  EXPECT_EQ(outcome.results, (std::vector<std::int32_t>{0, 0, 0, 0, kPictornNotAnImage, kPictornNoSuchImage}));
  const OpenFile file(dir_ / "1.pg");
  EXPECT_NE(ReadImage(file.Handle(), 4).result, kPictornOk);
  EXPECT_NE(std::string(PictornLastError()).find("cut short"), std::string::npos) << PictornLastError();
}

TEST_F(PictornDamage, CutInTheFirstPagesDataLeavesNoImage) {
  const Outcome outcome = Read(Damaged(FivePages(), Damage::CutInImageData, 0));
  EXPECT_LE(outcome.count, 0);
  for (const std::int32_t result : outcome.results) EXPECT_NE(result, kPictornOk);
}

TEST_F(PictornDamage, CutInADirectoryEndsTheChainThere) {
  const Outcome outcome = Read(Damaged(FivePages(), Damage::CutInDirectory, 2));
  EXPECT_EQ(outcome.count, 2);
  EXPECT_EQ(outcome.results, (std::vector<std::int32_t>{0, 0, kPictornNoSuchImage, kPictornNoSuchImage,
                                                        kPictornNoSuchImage, kPictornNoSuchImage}));
}

TEST_F(PictornDamage, BadMagicIsNotAnImage) {
  const Outcome outcome = Read(Damaged(FivePages(), Damage::BadMagic, 0));
  EXPECT_EQ(outcome.count, 0);
  EXPECT_EQ(outcome.results[0], kPictornNotAnImage);
  EXPECT_STREQ(PictornLastError(), "not a TIFF file");
}

TEST_F(PictornDamage, DirectoryBeyondTheEnd) {
  EXPECT_EQ(Read(Damaged(FivePages(), Damage::DirectoryBeyondEnd, 0)).count, 0);
  const Outcome outcome = Read(Damaged(FivePages(), Damage::DirectoryBeyondEnd, 3));
  EXPECT_EQ(outcome.count, 3);
  EXPECT_EQ(outcome.results[2], kPictornOk);
  EXPECT_EQ(outcome.results[3], kPictornNoSuchImage);
}

TEST_F(PictornDamage, DirectoryLoopIsWalkedOnce) {
  const Outcome outcome = Read(Damaged(FivePages(), Damage::DirectoryLoop, 0));
  EXPECT_EQ(outcome.count, 5);
  EXPECT_EQ(outcome.results, (std::vector<std::int32_t>{0, 0, 0, 0, 0, kPictornNoSuchImage}));
}

TEST_F(PictornDamage, CutInAJpegFileLosesTheLastPage) {
  if (!esproduce::CanWrite(Compression::Jpeg)) GTEST_SKIP() << "this build of the producer writes no JPEG";
  // Where libtiff writes the file, each page's data lies ahead of its directory and the
  // cut takes both; either way the page is lost and the others stay.
  const Outcome outcome = Read(Damaged(FivePages(Compression::Jpeg), Damage::CutInImageData, 4));
  EXPECT_GE(outcome.count, 4);
  EXPECT_LE(outcome.count, 5);
  EXPECT_EQ(std::vector<std::int32_t>(outcome.results.begin(), outcome.results.begin() + 4),
            (std::vector<std::int32_t>{0, 0, 0, 0}));
  EXPECT_NE(outcome.results[4], kPictornOk);
}

TEST_F(PictornDamage, FileRewrittenInPlaceIsWalkedAnew) {
  // The same file, size and time stamp: only the chain of directories changes.
  Bytes bytes = FivePages();
  EXPECT_EQ(Read(bytes).count, 5);
  const auto stamp = std::filesystem::last_write_time(dir_ / "1.pg");
  auto u32 = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; };
  auto link = [&](std::size_t ifd) { return ifd + 2 + 12 * (bytes[ifd] | bytes[ifd + 1] << 8); };
  const std::size_t third = u32(link(u32(link(u32(4)))));
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(link(third)), 4, 0);
  {
    std::fstream out(dir_ / "1.pg", std::ios::binary | std::ios::in | std::ios::out);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::filesystem::last_write_time(dir_ / "1.pg", stamp);
  const OpenFile file(dir_ / "1.pg");
  EXPECT_EQ(PictornImageCount(file.Handle()), 3);
  EXPECT_EQ(ReadImage(file.Handle(), 3).result, kPictornNoSuchImage);
}

TEST_F(PictornDamage, FileAtTheImageLimitIsReadWhole) {
  // One image more is refused as a whole (the corpus's too-many.tif).
  const std::vector<PageImage> pages(kPictornMaxImages, esproduce::MakeBitonalPage(8, 2, 72, 0));
  std::string error;
  const Bytes bytes = esproduce::MakeTiff(pages, Compression::CcittG4, &error);
  ASSERT_FALSE(bytes.empty()) << error;
  WriteFile(dir_ / "1.pg", bytes);
  const OpenFile file(dir_ / "1.pg");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(PictornImageCount(file.Handle()), kPictornMaxImages);
  EXPECT_EQ(ReadImage(file.Handle(), kPictornMaxImages - 1).result, kPictornOk) << PictornLastError();
  EXPECT_EQ(ReadImage(file.Handle(), kPictornMaxImages).result, kPictornNoSuchImage);
}

TEST_F(PictornDamage, EveryTruncationFailsCleanly) {
  const Bytes whole = FivePages(Compression::Lzw);
  WriteFile(dir_ / "whole.pg", whole);
  for (std::size_t length = 0; length < whole.size(); length += 1 + length / 16) {
    SCOPED_TRACE("cut at " + std::to_string(length));
    WriteFile(dir_ / "1.pg", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    const OpenFile file(dir_ / "1.pg");
    ASSERT_TRUE(file.IsOpen());
    const std::int32_t count = PictornImageCount(file.Handle());
    EXPECT_LE(count, 5);
    for (std::int32_t k = 0; k < 5; ++k) {
      const Page read = ReadImage(file.Handle(), k);
      // What is handed over is whole: it decodes.
      if (read.result == kPictornOk) {
        PictornPixels pixels{};
        EXPECT_TRUE(PictornDecode(read.image, &pixels)) << PictornLastError();
        PictornFreePixels(&pixels);
      }
    }
  }
}

TEST_F(PictornDamage, CorruptBytesNeverCrash) {
  std::vector<Compression> compressions = {Compression::CcittG4, Compression::CcittG3, Compression::Lzw,
                                           Compression::PackBits};
  if (esproduce::CanWrite(Compression::Jpeg)) compressions.push_back(Compression::Jpeg);
  std::mt19937 random(20240611);
  for (const Compression compression : compressions) {
    const Bytes whole = FivePages(compression);
    for (int round = 0; round < 60; ++round) {
      Bytes bytes = whole;
      const int changes = 1 + static_cast<int>(random() % 8);
      for (int c = 0; c < changes; ++c) {
        // Mostly the directories and values at the front; sometimes anywhere.
        const std::size_t span = random() % 4 == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 400);
        bytes[random() % span] = static_cast<std::uint8_t>(random());
      }
      WriteFile(dir_ / "1.pg", bytes);
      const OpenFile file(dir_ / "1.pg");
      ASSERT_TRUE(file.IsOpen());
      EXPECT_LE(PictornImageCount(file.Handle()), kPictornMaxImages);
      for (std::int32_t k = 0; k < 5; ++k) {
        const Page read = ReadImage(file.Handle(), k);
        if (read.result != kPictornOk) continue;
        // A changed size can announce a huge image; decoding one proves nothing more.
        const PictornInfo info = read.Info();
        if (std::uint64_t{info.width} * info.height > 4'000'000) continue;
        PictornPixels pixels{};
        if (PictornDecode(read.image, &pixels)) PictornFreePixels(&pixels);
      }
    }
  }
}

}  // namespace
}  // namespace pictorn_test
