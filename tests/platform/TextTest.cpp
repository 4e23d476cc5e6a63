// ANSI text, environment references, and the names of the user and the computer.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Platform.h"

namespace es::platform {
namespace {

TEST(AnsiText, Code1252BothWays) {
  const struct {
    const char* name;
    std::string bytes;
    Str text;
    bool backAgain;  // the text converts back to the same bytes
  } rows[] = {
      {"euro sign is byte 80", "A\x80z", u"A\u20ACz", true},
      {"Latin-1 letters", "\xC4\xD6\xDC\xE4\xF6\xFC\xDF", u"\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF", true},
      {"empty", "", u"", true},
      {"undefined bytes stand for themselves", "a\x81\x8D\x8F\x90\x9D" "b", u"a\u0081\u008D\u008F\u0090\u009Db", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Os().AnsiToUtf16(row.bytes.data(), row.bytes.size()), row.text);
    std::string back = "old";
    if (!row.backAgain) continue;
    ASSERT_TRUE(Os().Utf16ToAnsi(row.text, &back));
    EXPECT_EQ(back, row.bytes);
  }
  std::string back;
  ASSERT_TRUE(Os().Utf16ToAnsi(u"x\u4E00y\U0001F600z\xDC80w", &back));
  EXPECT_EQ(back, "x?y??z?w") << "what has no byte becomes a question mark, per UTF-16 unit";
#ifndef _WIN32
  SetAnsiCodePage("1251");  // chosen by the host
  EXPECT_EQ(Os().AnsiToUtf16("\xC0", 1), u"\u0410");
  SetAnsiCodePage(nullptr);
  EXPECT_EQ(Os().AnsiToUtf16("\xC0", 1), u"\u00C0");
#endif
}

TEST(Environment, ReferencesExpandWithinTheirRoom) {
#ifdef _WIN32
  ASSERT_EQ(_putenv_s("ES_PLAT_STORE", "store"), 0);
  ASSERT_EQ(_putenv_s("ES_PLAT_FIVE", "12345"), 0);
#else
  ASSERT_EQ(setenv("ES_PLAT_STORE", "store", 1), 0);
  ASSERT_EQ(setenv("ES_PLAT_FIVE", "12345", 1), 0);
#endif
  const struct {
    Str text;
    std::size_t room;
    const char16_t* expected;  // nullptr: does not fit, and the result is left alone
  } rows[] = {
      {u"%ES_PLAT_STORE%\\in", 260, u"store\\in"},
      {u"a%ES_PLAT_UNKNOWN_NAME%b", 260, u"a%ES_PLAT_UNKNOWN_NAME%b"},
      {u"100% sure", 260, u"100% sure"},
      {u"%ES_PLAT_STORE%%ES_PLAT_STORE%", 260, u"storestore"},
      {u"%es_plat_Store%", 260, u"store"},  // names ignore case
      {u"%ES_PLAT_FIVE%", 6, u"12345"},
      {u"%ES_PLAT_FIVE%", 5, nullptr},  // the terminator must fit too
      {Str(300, u'x'), 260, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()) + " in " + std::to_string(row.room));
    Str expanded = u"untouched";
    EXPECT_EQ(Os().ExpandEnvironment(row.text, row.room, &expanded), row.expected != nullptr);
    EXPECT_EQ(expanded, row.expected ? row.expected : u"untouched");
  }
}

TEST(Names, UserAndComputerNamesWithinTheirRoom) {
  Str user, computer;
  ASSERT_TRUE(Os().UserName(100, &user));
  EXPECT_FALSE(user.empty());
  EXPECT_LT(user.size(), 100u);
  ASSERT_TRUE(Os().ComputerName(16, &computer));
  EXPECT_FALSE(computer.empty());
  EXPECT_LT(computer.size(), 16u);

  Str tooSmall;
  EXPECT_FALSE(Os().UserName(user.size(), &tooSmall));
  EXPECT_FALSE(Os().ComputerName(computer.size(), &tooSmall));
  ASSERT_TRUE(Os().UserName(user.size() + 1, &tooSmall));
  EXPECT_EQ(tooSmall, user);
}

}  // namespace
}  // namespace es::platform
