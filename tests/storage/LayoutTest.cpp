#include "storage/Layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using es::Str;
namespace layout = es::layout;
constexpr char16_t kSep = es::platform::kPathSep;

Str P(std::initializer_list<const char16_t*> parts) {
  Str out;
  for (const char16_t* p : parts) {
    if (!out.empty()) out.push_back(kSep);
    out += p;
  }
  return out;
}

TEST(LayoutNames, PageFileNames) {
  EXPECT_EQ(layout::PageFileNameV2(1), u"1.pg");
  EXPECT_EQ(layout::PageFileNameV2(11), u"11.pg");
  EXPECT_EQ(layout::PageFileNameV1(26), u"0000001a.pg");
  EXPECT_EQ(layout::PageFileNameV1(0xFFFFFFFFu), u"ffffffff.pg");
}

TEST(LayoutKinds, PdfNeedsSignatureAndFiveBytes) {
  const std::vector<std::uint8_t> pdf = {'%', 'P', 'D', 'F', '-'};
  EXPECT_TRUE(layout::IsPdfSignature(pdf, 5));
  EXPECT_FALSE(layout::IsPdfSignature(std::span(pdf).first(4), 4));
  const std::vector<std::uint8_t> lower = {'%', 'p', 'd', 'f', '-'};
  EXPECT_FALSE(layout::IsPdfSignature(lower, 5));
  EXPECT_FALSE(layout::IsPdfSignature(std::span(pdf).first(3), 100));
}

TEST(LayoutPaths, GroupFolderAddsNoSecondSeparator) {
  EXPECT_EQ(layout::GroupFolderPath(u"S", u"G"), P({u"S", u"G"}));
  EXPECT_EQ(layout::GroupFolderPath(P({u"S", u""}), u"G"), P({u"S", u"G"}));
  EXPECT_EQ(layout::StorageListingPattern(P({u"S", u""})), P({u"S", u"*.*"}));
}

TEST(LayoutPaths, LockFileOfDiscoveryAlwaysAddsSeparator) {
  EXPECT_EQ(layout::GroupLockPath(P({u"S", u""}), u"G"), P({u"S", u"", u"G", u"GR_LOCK.TXT"}));
  EXPECT_EQ(layout::LockFilePath(u"G"), P({u"G", u"GR_LOCK.TXT"}));
}

TEST(LayoutPaths, OrderFileAndBackup) {
  EXPECT_EQ(layout::OrderFilePath(u"G"), P({u"G", u"Doc_Order.txt"}));
  EXPECT_EQ(layout::OrderBackupPath(P({u"G", u"Doc_Order.txt"})), P({u"G", u"Doc_Order.txt.BAK"}));
  EXPECT_EQ(layout::OrderFileOfPattern(layout::ListingPattern(u"G")), P({u"G", u"Doc_Order.txt"}));
}

TEST(LayoutPaths, SideFilesTakeSeparatorOnlyWhenMissing) {
  EXPECT_EQ(layout::KvAttrPath(u"D"), P({u"D", u"KVATTR"}));
  EXPECT_EQ(layout::KvAttrPath(P({u"D", u""})), P({u"D", u"KVATTR"}));
  EXPECT_EQ(layout::CommandsPath(P({u"D", u""})), P({u"D", u"COMMANDS"}));
}

TEST(LayoutPaths, ReplacementImageLiesBesideTheModule) {
  EXPECT_EQ(layout::ReplacementImagePath(P({u"opt", u"es", u"Input.ExternalStorage.dll"})),
            P({u"opt", u"es", u"DualStreamPdf.tif"}));
  EXPECT_EQ(layout::ReplacementImagePath(u"Input.ExternalStorage.dll"), u"DualStreamPdf.tif");
}

}  // namespace
