#include "base/TextMode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(TextMode, ReadingJoinsCrLfAndStopsAtControlZ) {
  EXPECT_EQ(es::DecodeTextMode(B("a\r\nb\r\n")), B("a\nb\n"));
  EXPECT_EQ(es::DecodeTextMode(B("a\rb\n\r")), B("a\rb\n\r"));
  EXPECT_EQ(es::DecodeTextMode(B("a\r\r\nb")), B("a\r\nb"));
  EXPECT_EQ(es::DecodeTextMode(B("ab\x1A\r\ncd")), B("ab"));
  EXPECT_EQ(es::DecodeTextMode(B("")), B(""));
  EXPECT_EQ(es::DecodeTextMode(B(std::string("a\0b", 3))), B(std::string("a\0b", 3)));
}

TEST(TextMode, WritingExpandsEveryLineFeed) {
  EXPECT_EQ(es::EncodeTextMode(B("a\nb\n")), B("a\r\nb\r\n"));
  EXPECT_EQ(es::EncodeTextMode(B("a\r\n")), B("a\r\r\n"));
  EXPECT_EQ(es::EncodeTextMode(B("\x1A\r")), B("\x1A\r"));
}

TEST(TextMode, LinesWrittenReadBackUnchanged) {
  const Bytes lines = B("Doc1\nDoc 2\n\nlast");
  EXPECT_EQ(es::DecodeTextMode(es::EncodeTextMode(lines)), lines);
}

}  // namespace
