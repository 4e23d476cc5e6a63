#include "attrs/CommandsFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "attrs/AttributeIds.h"

namespace {

using es::Str;
using Bytes = std::vector<std::uint8_t>;
namespace ids = es::attrs;

std::optional<Str> Text(CAttrContainer& c, std::uint32_t id) {
  AttrVariant v{};
  if (!c.Get(id, &v, 0)) return std::nullopt;
  return Str(v.text, v.textLength);
}

std::optional<Bytes> Binary(CAttrContainer& c, std::uint32_t id) {
  AttrVariant v{};
  if (!c.Get(id, &v, 0)) return std::nullopt;
  return v.size == 0 ? Bytes() : Bytes(v.bytes, v.bytes + v.size);
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The side files as the import read them: absent ones are null.
class CommandsFile : public ::testing::Test {
 protected:
  CAttrContainer doc_{2};
  std::optional<Bytes> commands_;
  std::optional<Bytes> kvattr_;

  void Commands(const std::string& bytes) { commands_ = B(bytes); }
  void KvAttr(const std::string& bytes) { kvattr_ = B(bytes); }
  bool Read() {
    return ids::ApplyCommandFiles(kvattr_ ? &*kvattr_ : nullptr, commands_ ? &*commands_ : nullptr, &doc_);
  }
};

TEST_F(CommandsFile, BarcodeArgumentsJoinedByOneBlank) {
  Commands("BARCODE 4711  0815\r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"4711 0815");
  long pending = -1;
  ASSERT_TRUE(doc_.GetAttr(ids::kDocBarcodePending, &pending, 0));
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(Binary(doc_, ids::kDocCommandsFile), B("BARCODE 4711  0815\r\n"));
  EXPECT_FALSE(Binary(doc_, ids::kDocKvAttrFile));
}

TEST_F(CommandsFile, LowerCaseKeywordIsFound) {
  Commands("barcode 12\r\npile_index  P-3 \r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"12");
  EXPECT_EQ(Text(doc_, ids::kDocPileIndex), u"P-3");
}

TEST_F(CommandsFile, BarcodeAloneSetsEmptyText) {
  Commands("BARCODE\r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"");
  EXPECT_EQ(doc_.GetAttr(ids::kDocBarcodePending, nullptr, 0) != 0, true);
}

TEST_F(CommandsFile, FirstBarcodeLineCounts) {
  Commands("BARCODE one\r\nBARCODE two\r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"one");
}

TEST_F(CommandsFile, ScanBatchAndFolderAreAlwaysSet) {
  Commands("DOCID 1\r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocScanBatch), u"");
  EXPECT_EQ(Text(doc_, ids::kDocScanFolder), u"");
  EXPECT_FALSE(Text(doc_, ids::kDocBarcode));
  EXPECT_FALSE(Text(doc_, ids::kDocPileIndex));

  Commands("SCANBATCH  Batch 7 \r\nSCANFOLDER \\\\srv\\in\r\n");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocScanBatch), u"Batch 7");
  EXPECT_EQ(Text(doc_, ids::kDocScanFolder), u"\\\\srv\\in");
}

TEST_F(CommandsFile, EmptyCommandsFile) {
  Commands("");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocCommandsFile), Bytes());
  EXPECT_EQ(Text(doc_, ids::kDocScanBatch), u"");
  EXPECT_EQ(Text(doc_, ids::kDocScanFolder), u"");
  EXPECT_FALSE(Text(doc_, ids::kDocBarcode));
}

TEST_F(CommandsFile, CarriageReturnAtTheEndIsTrimmedFromTheValue) {
  Commands("BARCODE 99\r");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"99");
}

TEST_F(CommandsFile, NulEndsTheTextButTheFileIsStoredWhole) {
  const std::string bytes("SCANBATCH a\r\n\0BARCODE b\r\n", 25);
  Commands(bytes);
  ASSERT_TRUE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocCommandsFile), B(bytes));
  EXPECT_EQ(Text(doc_, ids::kDocScanBatch), u"a");
  EXPECT_FALSE(Text(doc_, ids::kDocBarcode));
}

TEST_F(CommandsFile, KvAttrIsStoredAsTextModeReadsIt) {
  KvAttr("a\r\nb\rc\r\n");
  Commands("");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocKvAttrFile), B("a\nb\rc\n"));

  KvAttr(std::string("head\x1A" "tail"));
  ASSERT_TRUE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocKvAttrFile), B("head"));
}

TEST_F(CommandsFile, EmptyKvAttrGivesEmptyBinary) {
  KvAttr("");
  Commands("");
  ASSERT_TRUE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocKvAttrFile), Bytes());
}

TEST_F(CommandsFile, OldSideFileAttributesAreRemovedFirst) {
  const std::uint8_t old[] = {1, 2};
  doc_.SetAttr(ids::kDocKvAttrFile, old, 2, 0);
  doc_.SetAttr(ids::kDocCommandsFile, old, 2, 0);
  EXPECT_FALSE(Read());
  EXPECT_FALSE(Binary(doc_, ids::kDocKvAttrFile));
  EXPECT_FALSE(Binary(doc_, ids::kDocCommandsFile));
}

TEST_F(CommandsFile, MissingCommandsKeepsKvAttrAndTexts) {
  KvAttr("kv");
  doc_.SetAttr(ids::kDocBarcode, u"before", 0);
  EXPECT_FALSE(Read());
  EXPECT_EQ(Binary(doc_, ids::kDocKvAttrFile), B("kv"));
  EXPECT_EQ(Text(doc_, ids::kDocBarcode), u"before");
  EXPECT_FALSE(Text(doc_, ids::kDocScanBatch));
}

TEST_F(CommandsFile, NullContainerIsRefused) {
  Commands("BARCODE 5\r\n");
  EXPECT_FALSE(ids::ApplyCommandFiles(nullptr, &*commands_, nullptr));
}

}  // namespace
