#include "attrs/CommandsParse.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "attrs/CommandsFile.h"

namespace {

using es::Str;
using es::StrArray;
using es::attrs::CCommandsParse;
constexpr int kAll = es::attrs::kAllArguments;

std::vector<StrArray> Lines(const CCommandsParse& p) {
  std::vector<StrArray> out(static_cast<std::size_t>(p.GetLineCount()));
  for (int l = 0; l < p.GetLineCount(); ++l)
    for (int t = 0; t < p.GetLine(l).GetTokenCount(); ++t) out[static_cast<std::size_t>(l)].push_back(p.GetToken(l, t));
  return out;
}

CCommandsParse Parsed(const Str& text) {
  CCommandsParse p;
  EXPECT_TRUE(p.Parse(text, es::attrs::kCommandPatterns));
  return p;
}

TEST(CommandsKeywords, TableOrderAndIds) {
  const auto table = es::attrs::CommandKeywordTable();
  ASSERT_EQ(table.size(), 37u);
  std::vector<std::uint32_t> ids;
  for (const auto& row : table) ids.push_back(row.id);
  const std::vector<std::uint32_t> expected = {1,  2,  3,  4,  7,  8,  9,  10, 11, 13, 14, 12, 15,
                                               16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28,
                                               29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39};
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(table[11].keyword, u"PILE_INDEX");
  EXPECT_EQ(table[36].keyword, u"SCANFOLDER");
  for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].handler != nullptr, i == 3) << i;
}

// Keywords compare without case; "COMP" lines are told apart by their first argument:
// 5 for "IM", 6 for a page file ("<digits>.pg") or "DATA<digits>", 4 otherwise.
TEST(CommandsKeywords, IdOfTheLine) {
  const struct {
    Str text;
    std::uint32_t id;
  } rows[] = {
      {u"barcode 1", 2},         {u"Pile_Index 7", 12},  {u"scanfolder x", 39}, {u"BARCODES 1", 0},
      {u"COMPUTERNAME pc", 3},   {u"COMP IM", 5},        {u"comp im", 5},       {u"COMP 12.pg", 6},
      {u"COMP DATA7", 6},        {u"COMP data7", 4},     {u"COMP x.pg", 4},     {u"COMP 12.pgx", 4},
      {u"COMP 12xpg", 4},        {u"COMP", 4},           {u"COMP 3.pg IM", 6},
      // Very long tokens must not exhaust the stack.
      {u"COMP " + Str(100000, u'7') + u".pg", 6}, {u"COMP DATA" + Str(100000, u'1') + u"x", 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(es::ToUtf8(row.text.substr(0, 20)));
    const CCommandsParse p = Parsed(row.text);
    ASSERT_EQ(p.GetLineCount(), 1);
    EXPECT_EQ(p.GetKeywordId(0), row.id);
  }
  CCommandsParse p;  // patterns without a match list: every COMP line is 4 unless "IM"
  ASSERT_TRUE(p.Parse(u"COMP 12.pg\nCOMP IM", u"\n\n"));
  EXPECT_EQ(p.GetKeywordId(0), 4u);
  EXPECT_EQ(p.GetKeywordId(1), 5u);
}

TEST(CommandsParse, LinesAndTokens) {
  const struct {
    const char* name;
    Str text;
    std::vector<StrArray> lines;
  } rows[] = {
      {"blanks, tabs and vertical tabs split", u"BARCODE 4711  0815\r\n\tDOCID\va\t b \r\n",
       {{u"BARCODE", u"4711", u"0815"}, {u"DOCID", u"a", u"b"}}},
      {"blank lines make no lines", u"\n\r\n   \r\n\t\nA\n\n \nB", {{u"A"}, {u"B"}}},
      {"empty text", u"", {}},
      {"every CR since the token began goes before the LF", u"K val\r\r\n", {{u"K", u"val"}}},
      {"after a CR a blank no longer ends the token", u"K a\r b\n", {{u"K", u"a\r "}}},
      {"at the end of the text the CR stays", u"BARCODE 1\r", {{u"BARCODE", u"1\r"}}},
      {"CRs outside tokens do not shorten a later one", u"K \r\rab\n", {{u"K", u"ab"}}},
      {"last line needs no LF", u"A 1\nB 2", {{u"A", u"1"}, {u"B", u"2"}}},
      {"NUL ends the text", Str(u"A b\0C d\n", 8), {{u"A", u"b"}}},
      {"unknown keyword lines stay", u"HELLO world\nBARCODE 1\n", {{u"HELLO", u"world"}, {u"BARCODE", u"1"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Lines(Parsed(row.text)), row.lines);
  }
}

TEST(CommandsParse, BadPatternFailsAndIndexesOutsideTheListThrow) {
  CCommandsParse p = Parsed(u"A 1\n");
  EXPECT_FALSE(p.Parse(u"B 2\n", u"[0-9\n"));
  EXPECT_EQ(Lines(p), (std::vector<StrArray>{{u"A", u"1"}}));  // the lines stay
  EXPECT_THROW(p.GetLine(1), std::invalid_argument);
  EXPECT_THROW(p.GetLine(-1), std::invalid_argument);
  EXPECT_THROW(p.GetToken(0, 2), std::invalid_argument);
  EXPECT_THROW(p.GetKeywordId(5), std::invalid_argument);
  Str out;
  EXPECT_THROW(p.GetKeywordValue(0, 3, out), std::invalid_argument);
}

// The first line of the id counts; all arguments come each followed by a blank.
TEST(CommandsValue, Rows) {
  const Str twoBarcodes = u"BARCODE first\nBARCODE second\nCOMP 5.pg\n";
  const struct {
    Str text;
    std::uint32_t id;
    int token;
    bool found;
    Str value;
  } rows[] = {
      {u"BARCODE 4711  0815\r\n", 2, kAll, true, u"4711 0815 "},
      {u"BARCODE 4711  0815\r\n", 2, 0, true, u"BARCODE"},
      {u"BARCODE 4711  0815\r\n", 2, 2, true, u"0815"},
      {u"BARCODE\n", 2, kAll, true, u""},
      {twoBarcodes, 2, kAll, true, u"first "},
      {twoBarcodes, 6, 1, true, u"5.pg"},
      {twoBarcodes, 4, kAll, false, u""},
      {twoBarcodes, 38, kAll, false, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(es::ToUtf8(row.text) + " id " + std::to_string(row.id) + " token " + std::to_string(row.token));
    Str out = u"stale";
    EXPECT_EQ(Parsed(row.text).GetKeywordValue(row.id, row.token, out), row.found);
    EXPECT_EQ(out, row.value);
  }
}

}  // namespace
