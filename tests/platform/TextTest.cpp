// ANSI text, environment references, and the names of the user and the computer.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Platform.h"

namespace es::platform {
namespace {

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  ASSERT_EQ(_putenv_s(name, value), 0);
#else
  ASSERT_EQ(setenv(name, value, 1), 0);
#endif
}

TEST(AnsiText, EuroSignIsByte80) {
  const char bytes[] = {'A', static_cast<char>(0x80), 'z'};
  EXPECT_EQ(Os().AnsiToUtf16(bytes, sizeof bytes), u"A\u20ACz");
  std::string back;
  ASSERT_TRUE(Os().Utf16ToAnsi(u"A\u20ACz", &back));
  EXPECT_EQ(back, std::string(bytes, sizeof bytes));
}

TEST(AnsiText, Latin1LettersRoundTrip) {
  const std::string bytes = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF";
  const Str text = Os().AnsiToUtf16(bytes.data(), bytes.size());
  EXPECT_EQ(text, u"\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF");
  std::string back;
  ASSERT_TRUE(Os().Utf16ToAnsi(text, &back));
  EXPECT_EQ(back, bytes);
}

TEST(AnsiText, UndefinedBytesStandForThemselves) {
  const std::string bytes = "a\x81\x8D\x8F\x90\x9D" "b";
  EXPECT_EQ(Os().AnsiToUtf16(bytes.data(), bytes.size()), u"a\u0081\u008D\u008F\u0090\u009Db");
}

TEST(AnsiText, UnmappableUnitsBecomeQuestionMarks) {
  std::string back;
  ASSERT_TRUE(Os().Utf16ToAnsi(u"x\u4E00y\U0001F600z\xDC80w", &back));
  EXPECT_EQ(back, "x?y??z?w");
}

TEST(AnsiText, EmptyText) {
  EXPECT_EQ(Os().AnsiToUtf16("", 0), u"");
  std::string back = "old";
  ASSERT_TRUE(Os().Utf16ToAnsi(u"", &back));
  EXPECT_EQ(back, "");
}

#ifndef _WIN32
TEST(AnsiText, HostChosenCodePage) {
  SetAnsiCodePage("1251");
  const char cyrillicA = static_cast<char>(0xC0);
  EXPECT_EQ(Os().AnsiToUtf16(&cyrillicA, 1), u"\u0410");
  SetAnsiCodePage(nullptr);
  EXPECT_EQ(Os().AnsiToUtf16(&cyrillicA, 1), u"\u00C0");
}
#endif

TEST(Environment, ReferencesExpandAndUnknownOnesStay) {
  SetVariable("ES_PLAT_STORE", "store");
  Str expanded;
  ASSERT_TRUE(Os().ExpandEnvironment(u"%ES_PLAT_STORE%\\in", 260, &expanded));
  EXPECT_EQ(expanded, u"store\\in");
  ASSERT_TRUE(Os().ExpandEnvironment(u"a%ES_PLAT_UNKNOWN_NAME%b", 260, &expanded));
  EXPECT_EQ(expanded, u"a%ES_PLAT_UNKNOWN_NAME%b");
  ASSERT_TRUE(Os().ExpandEnvironment(u"100% sure", 260, &expanded));
  EXPECT_EQ(expanded, u"100% sure");
  ASSERT_TRUE(Os().ExpandEnvironment(u"%ES_PLAT_STORE%%ES_PLAT_STORE%", 260, &expanded));
  EXPECT_EQ(expanded, u"storestore");
}

TEST(Environment, NamesIgnoreCase) {
  SetVariable("ES_PLAT_MIXED", "v");
  Str expanded;
  ASSERT_TRUE(Os().ExpandEnvironment(u"%es_plat_Mixed%", 260, &expanded));
  EXPECT_EQ(expanded, u"v");
}

TEST(Environment, ResultAndTerminatorMustFit) {
  SetVariable("ES_PLAT_FIVE", "12345");
  Str expanded = u"untouched";
  EXPECT_FALSE(Os().ExpandEnvironment(u"%ES_PLAT_FIVE%", 5, &expanded));
  EXPECT_EQ(expanded, u"untouched");
  ASSERT_TRUE(Os().ExpandEnvironment(u"%ES_PLAT_FIVE%", 6, &expanded));
  EXPECT_EQ(expanded, u"12345");
  EXPECT_FALSE(Os().ExpandEnvironment(Str(300, u'x'), 260, &expanded));
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
