#include "attrs/CommandsParse.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "attrs/CommandsFile.h"

namespace {

using es::Str;
using es::StrArray;
using es::attrs::CCommandsParse;

StrArray Tokens(const CCommandsParse& p, int line) {
  StrArray out;
  for (int t = 0; t < p.GetLine(line).GetTokenCount(); ++t) out.push_back(p.GetToken(line, t));
  return out;
}

CCommandsParse Parsed(const Str& text) {
  CCommandsParse p;
  EXPECT_TRUE(p.Parse(text, es::attrs::kCommandPatterns));
  return p;
}

std::uint32_t IdOfFirstLine(const Str& text) {
  CCommandsParse p = Parsed(text);
  EXPECT_EQ(p.GetLineCount(), 1);
  return p.GetLineCount() > 0 ? p.GetKeywordId(0) : 0xFFFFFFFFu;
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

TEST(CommandsKeywords, CompareWithoutCase) {
  EXPECT_EQ(IdOfFirstLine(u"barcode 1"), 2u);
  EXPECT_EQ(IdOfFirstLine(u"Pile_Index 7"), 12u);
  EXPECT_EQ(IdOfFirstLine(u"scanfolder x"), 39u);
  EXPECT_EQ(IdOfFirstLine(u"BARCODES 1"), 0u);
  EXPECT_EQ(IdOfFirstLine(u"COMPUTERNAME pc"), 3u);
}

TEST(CommandsKeywords, CompHandler) {
  EXPECT_EQ(IdOfFirstLine(u"COMP IM"), 5u);
  EXPECT_EQ(IdOfFirstLine(u"comp im"), 5u);
  EXPECT_EQ(IdOfFirstLine(u"COMP 12.pg"), 6u);
  EXPECT_EQ(IdOfFirstLine(u"COMP DATA7"), 6u);
  EXPECT_EQ(IdOfFirstLine(u"COMP data7"), 4u);
  EXPECT_EQ(IdOfFirstLine(u"COMP x.pg"), 4u);
  EXPECT_EQ(IdOfFirstLine(u"COMP 12.pgx"), 4u);
  EXPECT_EQ(IdOfFirstLine(u"COMP 12xpg"), 4u);
  EXPECT_EQ(IdOfFirstLine(u"COMP"), 4u);
  EXPECT_EQ(IdOfFirstLine(u"COMP 3.pg IM"), 6u);
}

TEST(CommandsKeywords, CompOnVeryLongTokenDoesNotExhaustTheStack) {
  EXPECT_EQ(IdOfFirstLine(u"COMP " + Str(100000, u'7') + u".pg"), 6u);
  EXPECT_EQ(IdOfFirstLine(u"COMP DATA" + Str(100000, u'1') + u"x"), 4u);
}

TEST(CommandsKeywords, PatternsWithoutMatchListGiveFour) {
  CCommandsParse p;
  ASSERT_TRUE(p.Parse(u"COMP 12.pg\nCOMP IM", u"\n\n"));
  EXPECT_EQ(p.GetKeywordId(0), 4u);
  EXPECT_EQ(p.GetKeywordId(1), 5u);
}

TEST(CommandsParse, SplitsTokensAtBlanksTabsAndVerticalTabs) {
  CCommandsParse p = Parsed(u"BARCODE 4711  0815\r\n\tDOCID\va\t b \r\n");
  ASSERT_EQ(p.GetLineCount(), 2);
  EXPECT_EQ(Tokens(p, 0), (StrArray{u"BARCODE", u"4711", u"0815"}));
  EXPECT_EQ(Tokens(p, 1), (StrArray{u"DOCID", u"a", u"b"}));
}

TEST(CommandsParse, BlankLinesMakeNoLines) {
  CCommandsParse p = Parsed(u"\n\r\n   \r\n\t\nA\n\n \nB");
  ASSERT_EQ(p.GetLineCount(), 2);
  EXPECT_EQ(Tokens(p, 0), (StrArray{u"A"}));
  EXPECT_EQ(Tokens(p, 1), (StrArray{u"B"}));
}

TEST(CommandsParse, EmptyTextHasNoLines) {
  EXPECT_EQ(Parsed(u"").GetLineCount(), 0);
}

TEST(CommandsParse, CarriageReturnHandling) {
  // Every CR since the token began is dropped before the LF.
  EXPECT_EQ(Tokens(Parsed(u"K val\r\r\n"), 0), (StrArray{u"K", u"val"}));
  // After a CR a blank no longer ends the token.
  EXPECT_EQ(Tokens(Parsed(u"K a\r b\n"), 0), (StrArray{u"K", u"a\r "}));
  // At the end of the text the CR stays in the token.
  EXPECT_EQ(Tokens(Parsed(u"BARCODE 1\r"), 0), (StrArray{u"BARCODE", u"1\r"}));
  // CRs outside tokens do not shorten a later token.
  EXPECT_EQ(Tokens(Parsed(u"K \r\rab\n"), 0), (StrArray{u"K", u"ab"}));
}

TEST(CommandsParse, LastLineNeedsNoLineFeed) {
  CCommandsParse p = Parsed(u"A 1\nB 2");
  ASSERT_EQ(p.GetLineCount(), 2);
  EXPECT_EQ(Tokens(p, 1), (StrArray{u"B", u"2"}));
}

TEST(CommandsParse, NulEndsTheText) {
  const Str text(u"A b\0C d\n", 8);
  CCommandsParse p = Parsed(text);
  ASSERT_EQ(p.GetLineCount(), 1);
  EXPECT_EQ(Tokens(p, 0), (StrArray{u"A", u"b"}));
}

TEST(CommandsParse, UnknownKeywordLinesStay) {
  CCommandsParse p = Parsed(u"HELLO world\nBARCODE 1\n");
  ASSERT_EQ(p.GetLineCount(), 2);
  EXPECT_EQ(p.GetKeywordId(0), 0u);
  EXPECT_EQ(p.GetKeywordId(1), 2u);
}

TEST(CommandsParse, BadPatternFailsAndKeepsTheLines) {
  CCommandsParse p = Parsed(u"A 1\n");
  EXPECT_FALSE(p.Parse(u"B 2\n", u"[0-9\n"));
  ASSERT_EQ(p.GetLineCount(), 1);
  EXPECT_EQ(p.GetToken(0, 0), u"A");
}

TEST(CommandsParse, IndexesOutsideTheListThrow) {
  CCommandsParse p = Parsed(u"A 1\n");
  EXPECT_THROW(p.GetLine(1), std::invalid_argument);
  EXPECT_THROW(p.GetLine(-1), std::invalid_argument);
  EXPECT_THROW(p.GetToken(0, 2), std::invalid_argument);
  EXPECT_THROW(p.GetKeywordId(5), std::invalid_argument);
  Str out;
  EXPECT_THROW(p.GetKeywordValue(0, 3, out), std::invalid_argument);
}

TEST(CommandsValue, AllArgumentsEachFollowedByABlank) {
  CCommandsParse p = Parsed(u"BARCODE 4711  0815\r\n");
  Str out = u"stale";
  ASSERT_TRUE(p.GetKeywordValue(2, es::attrs::kAllArguments, out));
  EXPECT_EQ(out, u"4711 0815 ");
  ASSERT_TRUE(p.GetKeywordValue(2, 0, out));
  EXPECT_EQ(out, u"BARCODE");
  ASSERT_TRUE(p.GetKeywordValue(2, 2, out));
  EXPECT_EQ(out, u"0815");
}

TEST(CommandsValue, KeywordAloneGivesEmptyValue) {
  CCommandsParse p = Parsed(u"BARCODE\n");
  Str out = u"stale";
  EXPECT_TRUE(p.GetKeywordValue(2, es::attrs::kAllArguments, out));
  EXPECT_TRUE(out.empty());
}

TEST(CommandsValue, FirstLineCountsAndMissingIdFails) {
  CCommandsParse p = Parsed(u"BARCODE first\nBARCODE second\nCOMP 5.pg\n");
  Str out;
  ASSERT_TRUE(p.GetKeywordValue(2, es::attrs::kAllArguments, out));
  EXPECT_EQ(out, u"first ");
  ASSERT_TRUE(p.GetKeywordValue(6, 1, out));
  EXPECT_EQ(out, u"5.pg");
  EXPECT_FALSE(p.GetKeywordValue(4, es::attrs::kAllArguments, out));
  out = u"stale";
  EXPECT_FALSE(p.GetKeywordValue(38, es::attrs::kAllArguments, out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
