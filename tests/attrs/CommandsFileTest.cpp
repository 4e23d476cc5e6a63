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

// Every row starts from a document that holds side files and a barcode from before; the
// side files as the import read them (absent ones are null) replace them.
TEST(CommandsFile, Rows) {
  const std::optional<Str> kBefore = u"before";
  const std::optional<Str> kUnset;
  const struct {
    const char* name;
    std::optional<std::string> commands, kvattr;
    std::optional<Str> barcode, pile, scanBatch, scanFolder;
    std::optional<Bytes> storedKvAttr = std::nullopt;
  } rows[] = {
      {"BARCODE arguments joined by one blank", "BARCODE 4711  0815\r\n", {}, u"4711 0815", kUnset, u"", u""},
      {"lower-case keywords", "barcode 12\r\npile_index  P-3 \r\n", {}, u"12", u"P-3", u"", u""},
      {"BARCODE alone sets an empty text", "BARCODE\r\n", {}, u"", kUnset, u"", u""},
      {"first BARCODE line counts", "BARCODE one\r\nBARCODE two\r\n", {}, u"one", kUnset, u"", u""},
      {"scan batch and folder are always set", "DOCID 1\r\n", {}, kBefore, kUnset, u"", u""},
      {"scan batch and folder", "SCANBATCH  Batch 7 \r\nSCANFOLDER \\\\srv\\in\r\n", {}, kBefore, kUnset,
       u"Batch 7", u"\\\\srv\\in"},
      {"empty COMMANDS", "", {}, kBefore, kUnset, u"", u""},
      {"CR at the end is trimmed from the value", "BARCODE 99\r", {}, u"99", kUnset, u"", u""},
      {"NUL ends the text, the file is stored whole", std::string("SCANBATCH a\r\n\0BARCODE b\r\n", 25), {},
       kBefore, kUnset, u"a", u""},
      {"KVATTR stored as text mode reads it", "", "a\r\nb\rc\r\n", kBefore, kUnset, u"", u"", B("a\nb\rc\n")},
      {"KVATTR ends at Ctrl-Z", "", "head\x1A" "tail", kBefore, kUnset, u"", u"", B("head")},
      {"empty KVATTR", "", "", kBefore, kUnset, u"", u"", Bytes()},
      {"missing COMMANDS keeps KVATTR and texts", {}, "kv", kBefore, kUnset, kUnset, kUnset, B("kv")},
      {"no side files: the old ones are removed", {}, {}, kBefore, kUnset, kUnset, kUnset},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CAttrContainer doc(2);
    const std::uint8_t old[] = {1, 2};
    doc.SetAttr(ids::kDocKvAttrFile, old, 2, 0);
    doc.SetAttr(ids::kDocCommandsFile, old, 2, 0);
    doc.SetAttr(ids::kDocBarcode, u"before", 0);
    const std::optional<Bytes> commands = row.commands ? std::optional(B(*row.commands)) : std::nullopt;
    const std::optional<Bytes> kvattr = row.kvattr ? std::optional(B(*row.kvattr)) : std::nullopt;
    EXPECT_EQ(ids::ApplyCommandFiles(kvattr ? &*kvattr : nullptr, commands ? &*commands : nullptr, &doc),
              commands.has_value());
    EXPECT_EQ(Binary(doc, ids::kDocCommandsFile), commands);
    EXPECT_EQ(Binary(doc, ids::kDocKvAttrFile), row.storedKvAttr);
    EXPECT_EQ(Text(doc, ids::kDocBarcode), row.barcode);
    EXPECT_EQ(Text(doc, ids::kDocPileIndex), row.pile);
    EXPECT_EQ(Text(doc, ids::kDocScanBatch), row.scanBatch);
    EXPECT_EQ(Text(doc, ids::kDocScanFolder), row.scanFolder);
    // A barcode from the commands is no longer pending.
    long pending = -1;
    EXPECT_EQ(doc.GetAttr(ids::kDocBarcodePending, &pending, 0) != 0, row.barcode != kBefore);
    if (row.barcode != kBefore) {
      EXPECT_EQ(pending, 0);
    }
  }
  CAttrContainer* none = nullptr;
  const Bytes commands = B("BARCODE 5\r\n");
  EXPECT_FALSE(ids::ApplyCommandFiles(nullptr, &commands, none));
}

}  // namespace
