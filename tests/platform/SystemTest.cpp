// The process-wide services of the seam: events and threads, modules and their string
// resources, BSTR blocks, ANSI text, environment references, user and computer names.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/Platform.h"
#include "resources/ModuleStrings.h"

namespace es::platform {
namespace {

TEST(EventAndThread, AThreadWakesOnAManualResetEventAndJoinIsBounded) {
  EXPECT_TRUE(Event(true).Wait(0)) << "starts set when asked";
  Event go(false), done(false);
  EXPECT_NE(go.NativeHandle(), nullptr);
  go.Set();
  EXPECT_TRUE(go.Wait(0) && go.Wait(10)) << "manual reset: waiting does not clear it";
  go.Reset();
  Thread thread;
  ASSERT_TRUE(thread.Start([&] {
    if (go.Wait(-1)) done.Set();
  }));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(done.Wait(60));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(thread.Join(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_TRUE(thread.Running());
  go.Set();
  EXPECT_TRUE(done.Wait(5000) && thread.Join(5000));
  EXPECT_FALSE(thread.Running());
  EXPECT_TRUE(thread.Join(0)) << "nothing left to wait for";

  std::atomic<int> runs{0};
  ASSERT_TRUE(thread.Start([&] { ++runs; }));
  ASSERT_TRUE(thread.Join(5000));
  EXPECT_EQ(runs, 1) << "a joined thread starts again";
}

TEST(Thread, OwnerLetsGoOfARunningThread) {
  // The thread keeps what its body captured; the Thread object may go first.
  auto release = std::make_shared<Event>(false), finished = std::make_shared<Event>(false);
  {
    Thread thread;
    ASSERT_TRUE(thread.Start([release, finished] { release->Wait(-1), finished->Set(); }));
    EXPECT_FALSE(thread.Join(10));
  }
  release->Set();
  EXPECT_TRUE(finished->Wait(5000));
}

Str BaseName(const Str& path) { return std::filesystem::path(path).filename().u16string(); }

Str Upper(Str text) {
  for (char16_t& c : text) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  return text;
}

TEST(Module, StringTableIsServedTruncatedAndAMissingStringLeavesTheBufferAlone) {
  void* module = ThisModuleHandle();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(ThisModuleHandle(), module);
  ASSERT_GT(resources::kStringCount, 0u);
  const resources::StringEntry* longest = &resources::kStrings[0];
  for (unsigned i = 0; i < resources::kStringCount; ++i) {
    const resources::StringEntry& entry = resources::kStrings[i];
    char16_t buffer[1024];
    const int length = Os().LoadString(module, entry.id, buffer, 1024);
    EXPECT_EQ(Str(buffer, length), Str(entry.text)) << "string " << entry.id;
    if (Str(entry.text).size() > Str(longest->text).size()) longest = &entry;
  }
  ASSERT_GE(Str(longest->text).size(), 3u);
  char16_t buffer[4] = {u'a', u'b', u'c', u'\0'};
  EXPECT_EQ(Os().LoadString(module, longest->id, buffer, 0), 0);
  EXPECT_EQ(Str(buffer), u"abc");
  EXPECT_EQ(Os().LoadString(module, 65000, buffer, 4), 0);
  EXPECT_EQ(Str(buffer), u"abc");
  EXPECT_EQ(Os().LoadString(module, longest->id, buffer, 3), 2);
  EXPECT_EQ(Str(buffer, 2), Str(longest->text, 2));
  EXPECT_EQ(buffer[2], u'\0');
}

TEST(Module, FileNamesOfTheProgramAndItsLibraries) {
  const Str program = Os().ModuleFileName(nullptr);
  ASSERT_FALSE(program.empty());
#ifdef _WIN32
  EXPECT_EQ(BaseName(program), u"platform_test.exe");
  const Str library = u"KERNEL32.DLL";
#else
  EXPECT_EQ(BaseName(program), u"platform_test");
  const Str library = u"lunmere.SO";  // the name is compared without regard to case
#endif
  // This code is linked into the program, so its own module is the program.
  EXPECT_EQ(Os().ModuleFileName(ThisModuleHandle()), program);
  void* byName = Os().ModuleHandleByName(BaseName(program));
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(Os().ModuleFileName(byName), program);

  void* loaded = Os().ModuleHandleByName(library);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(Upper(BaseName(Os().ModuleFileName(loaded))), Upper(library));
  EXPECT_EQ(Os().ModuleHandleByName(u"NoSuchModule.bin"), nullptr);
  // Seconds since 1970: after November 2023, before 2100.
  EXPECT_GT(Os().UnixTime(), 1700000000);
  EXPECT_LT(Os().UnixTime(), 4102444800);
}

TEST(Bstr, LengthPrefixTextAndTerminator) {
  for (const Str& text : {Str(u"abc"), Str()}) {
    char16_t* bstr = BstrAlloc(text.data(), text.size());
    ASSERT_NE(bstr, nullptr);
    std::uint32_t byteLength = 0;
    std::memcpy(&byteLength, reinterpret_cast<const char*>(bstr) - 4, 4);
    EXPECT_EQ(byteLength, 2 * text.size());
    EXPECT_EQ(Str(bstr), text);
    BstrFree(bstr);
  }
  BstrFree(nullptr);
}

TEST(AnsiText, Code1252BothWays) {
  // backAgain: the text converts back to the same bytes.
  const struct { const char* name; std::string bytes; Str text; bool backAgain; } rows[] = {
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
  // expected nullptr: does not fit, and the result is left alone.
  const struct { Str text; std::size_t room; const char16_t* expected; } rows[] = {
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
  const struct { const char* name; bool (IPlatform::*get)(std::size_t, Str*); std::size_t room; } rows[] = {
      {"user", &IPlatform::UserName, 100}, {"computer", &IPlatform::ComputerName, 16}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Str name, again;
    ASSERT_TRUE((Os().*row.get)(row.room, &name));
    EXPECT_FALSE(name.empty());
    EXPECT_LT(name.size(), row.room);
    EXPECT_FALSE((Os().*row.get)(name.size(), &again)) << "the terminator must fit too";
    ASSERT_TRUE((Os().*row.get)(name.size() + 1, &again));
    EXPECT_EQ(again, name);
  }
}

}  // namespace
}  // namespace es::platform
