// The side files of a document: COMMANDS split into lines and tokens, four of its keywords
// copied into document texts; KVATTR stored as a text-mode read delivers it.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "attrs/AttributeIds.h"
#include "attrs/CommandsFile.h"
#include "attrs/CommandsParse.h"
#include "base/TextMode.h"
#include "tests/attrs/AttrsTestSupport.h"

namespace {

using es::Str;
using es::attrs::CCommandsParse;
using Bytes = std::vector<std::uint8_t>;
namespace ids = es::attrs;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// "id token|token" per line, lines joined by "; ".
std::string Parsed(const std::string& text) {
  CCommandsParse p;
  EXPECT_TRUE(p.Parse(Str(text.begin(), text.end()), ids::kCommandPatterns));
  std::string out;
  for (int l = 0; l < p.GetLineCount(); ++l) {
    out += (l == 0 ? "" : "; ") + std::to_string(p.GetKeywordId(l));
    for (int t = 0; t < p.GetLine(l).GetTokenCount(); ++t) out += (t == 0 ? " " : "|") + es::ToUtf8(p.GetToken(l, t));
  }
  return out;
}

// Every row starts from a document that holds side files and a barcode from before; the side
// files as the import read them (absent ones are null) replace them. The COMMANDS file is
// always stored whole; `document` is what else the document holds afterwards.
TEST(Commands, Rows) {
  const std::string kPlain = R"(Barcode text "before"; ScanBatch text ""; ScanFolder text "")";
  const auto barcode = [](const std::string& value) {
    return R"(Barcode text ")" + value + R"("; BarcodePending long 0; ScanBatch text ""; ScanFolder text "")";
  };
  const auto kv = [](const std::string& value) {
    return R"(Barcode text "before"; KvAttrFile binary ")" + value + R"("; ScanBatch text ""; ScanFolder text "")";
  };
  const std::string sevens(100000, '7'), ones(100000, '1');
  const struct { const char* name; std::optional<std::string> commands, kvattr; std::string parsed, document; } rows[] = {
      {"blanks, tabs and vertical tabs split; BARCODE arguments joined by one blank",
       "BARCODE 4711  0815\r\n\tDOCID\va\t b \r\n", {}, "2 BARCODE|4711|0815; 7 DOCID|a|b", barcode("4711 0815")},
      {"keywords compare without case", "barcode 12\r\npile_index  P-3 \r\nscanfolder x\r\n", {},
       "2 barcode|12; 12 pile_index|P-3; 39 scanfolder|x",
       R"(Barcode text "12"; BarcodePending long 0; PileIndex text "P-3"; ScanBatch text ""; ScanFolder text "x")"},
      {"unknown keywords stay as lines", "HELLO world\nBARCODES 1\nCOMPUTERNAME pc\n", {},
       "0 HELLO|world; 0 BARCODES|1; 3 COMPUTERNAME|pc", kPlain},
      // COMP lines are told apart by their first argument: 5 for "IM", 6 for a page file
      // ("<digits>.pg") or "DATA<digits>", 4 otherwise.
      {"COMP lines", "COMP IM\ncomp im\nCOMP 12.pg\nCOMP DATA7\nCOMP data7\nCOMP x.pg\nCOMP 12.pgx\nCOMP 12xpg\nCOMP\nCOMP 3.pg IM",
       {}, "5 COMP|IM; 5 comp|im; 6 COMP|12.pg; 6 COMP|DATA7; 4 COMP|data7; 4 COMP|x.pg; 4 COMP|12.pgx; 4 COMP|12xpg; "
           "4 COMP; 6 COMP|3.pg|IM", kPlain},
      {"very long tokens do not exhaust the stack", "COMP " + sevens + ".pg\nCOMP DATA" + ones + "x", {},
       "6 COMP|" + sevens + ".pg; 4 COMP|DATA" + ones + "x", kPlain},
      {"blank lines make no lines", "\n\r\n   \r\n\t\nA\n\n \nB", {}, "0 A; 0 B", kPlain},
      {"every CR since the token began goes before the LF", "BARCODE val\r\r\n", {}, "2 BARCODE|val", barcode("val")},
      {"after a CR a blank no longer ends the token", "K a\r b\n", {}, "0 K|a\r ", kPlain},
      {"at the end of the text the CR stays in the token, not in the value", "BARCODE 99\r", {}, "2 BARCODE|99\r",
       barcode("99")},
      {"CRs outside tokens do not shorten a later one", "K \r\rab\n", {}, "0 K|ab", kPlain},
      {"last line needs no LF", "A 1\nB 2", {}, "0 A|1; 0 B|2", kPlain},
      {"NUL ends the text", std::string("SCANBATCH a\r\n\0BARCODE b\r\n", 25), {}, "38 SCANBATCH|a",
       R"(Barcode text "before"; ScanBatch text "a"; ScanFolder text "")"},
      {"BARCODE alone sets an empty text", "BARCODE\r\n", {}, "2 BARCODE", barcode("")},
      {"first BARCODE line counts", "BARCODE one\r\nBARCODE two\r\n", {}, "2 BARCODE|one; 2 BARCODE|two", barcode("one")},
      {"scan batch and folder", "SCANBATCH  Batch 7 \r\nSCANFOLDER \\\\srv\\in\r\n", {},
       "38 SCANBATCH|Batch|7; 39 SCANFOLDER|\\\\srv\\in",
       R"(Barcode text "before"; ScanBatch text "Batch 7"; ScanFolder text "\u005c\u005csrv\u005cin")"},
      {"empty COMMANDS", "", {}, "", kPlain},
      {"KVATTR stored as text mode reads it", "", "a\r\nb\rc\r\n", "", kv(R"(a\nb\rc\n)")},
      {"KVATTR ends at Ctrl-Z", "", "head\x1A" "tail", "", kv("head")},
      {"empty KVATTR", "", "", "", kv("")},
      {"missing COMMANDS keeps KVATTR and texts", {}, "kv", "", R"(Barcode text "before"; KvAttrFile binary "kv")"},
      {"no side files: the old ones are removed", {}, {}, "", R"(Barcode text "before")"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.parsed, row.commands ? Parsed(*row.commands) : "");
    CAttrContainer doc(2);
    const std::uint8_t old[] = {1, 2};
    doc.SetAttr(ids::kDocKvAttrFile, old, 2, 0);
    doc.SetAttr(ids::kDocCommandsFile, old, 2, 0);
    doc.SetAttr(ids::kDocBarcode, u"before", 0);
    const std::optional<Bytes> commands = row.commands ? std::optional(B(*row.commands)) : std::nullopt;
    const std::optional<Bytes> kvattr = row.kvattr ? std::optional(B(*row.kvattr)) : std::nullopt;
    EXPECT_EQ(ids::ApplyCommandFiles(kvattr ? &*kvattr : nullptr, commands ? &*commands : nullptr, &doc),
              commands.has_value());
    AttrVariant stored{};
    EXPECT_EQ(commands.has_value(), doc.Get(ids::kDocCommandsFile, &stored, 0));
    EXPECT_EQ(commands.value_or(Bytes()), Bytes(stored.bytes, stored.bytes + stored.size));
    doc.Delete(ids::kDocCommandsFile);
    std::string document = attrtest::Render(doc, "", "; ");
    EXPECT_EQ(row.document, document.substr(0, document.size() - 2));
  }
  const Bytes commands = B("BARCODE 5\r\n");
  EXPECT_FALSE(ids::ApplyCommandFiles(nullptr, &commands, nullptr));
}

TEST(Commands, ParserInterface) {
  CCommandsParse p;  // patterns without a match list: every COMP line is 4 unless "IM"
  ASSERT_TRUE(p.Parse(u"COMP 12.pg\nCOMP IM", u"\n\n"));
  EXPECT_EQ(p.GetKeywordId(0), 4u);
  EXPECT_EQ(p.GetKeywordId(1), 5u);

  // The first line of the id counts; all arguments come each followed by a blank.
  ASSERT_TRUE(p.Parse(u"BARCODE 4711  0815\r\nCOMP 5.pg\n", ids::kCommandPatterns));
  const struct { std::uint32_t id; int token; bool found; Str value; } values[] = {
      {2, ids::kAllArguments, true, u"4711 0815 "}, {2, 0, true, u"BARCODE"}, {2, 2, true, u"0815"},
      {6, 1, true, u"5.pg"}, {4, ids::kAllArguments, false, u""}, {38, ids::kAllArguments, false, u""}};
  for (const auto& v : values) {
    Str out = u"stale";
    EXPECT_EQ(p.GetKeywordValue(v.id, v.token, out), v.found) << v.id << " " << v.token;
    EXPECT_EQ(out, v.value) << v.id << " " << v.token;
  }

  // A pattern that does not compile fails and leaves the lines; indexes outside them throw.
  EXPECT_FALSE(p.Parse(u"B 2\n", u"[0-9\n"));
  EXPECT_EQ(p.GetLineCount(), 2);
  EXPECT_THROW(p.GetLine(2), std::invalid_argument);
  EXPECT_THROW(p.GetLine(-1), std::invalid_argument);
  EXPECT_THROW(p.GetToken(1, 2), std::invalid_argument);
  EXPECT_THROW(p.GetKeywordId(5), std::invalid_argument);
  Str out;
  EXPECT_THROW(p.GetKeywordValue(2, 3, out), std::invalid_argument);
}

// Reading joins CR LF and stops at Ctrl-Z; writing expands every line feed.
TEST(Commands, TextMode) {
  const std::pair<std::string, std::string> reads[] = {
      {"a\r\nb\r\n", "a\nb\n"}, {"a\rb\n\r", "a\rb\n\r"}, {"a\r\r\nb", "a\r\nb"}, {"ab\x1A\r\ncd", "ab"},
      {"", ""}, {std::string("a\0b", 3), std::string("a\0b", 3)}};
  for (const auto& [stored, read] : reads) EXPECT_EQ(es::DecodeTextMode(B(stored)), B(read)) << stored;
  EXPECT_EQ(es::EncodeTextMode(B("a\nb\n")), B("a\r\nb\r\n"));
  EXPECT_EQ(es::EncodeTextMode(B("a\r\n")), B("a\r\r\n"));
  EXPECT_EQ(es::EncodeTextMode(B("\x1A\r")), B("\x1A\r"));
  const Bytes lines = B("Doc1\nDoc 2\n\nlast");
  EXPECT_EQ(es::DecodeTextMode(es::EncodeTextMode(lines)), lines);
}

}  // namespace
