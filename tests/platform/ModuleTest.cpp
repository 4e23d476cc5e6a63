// Modules, string resources and BSTR blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Platform.h"
#include "resources/ModuleStrings.h"

namespace es::platform {
namespace {

Str BaseName(const Str& path) {
  const std::size_t sep = path.find_last_of(kPathSep);
  return sep == Str::npos ? path : path.substr(sep + 1);
}

Str Upper(Str text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
  }
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
  char16_t* text = BstrAlloc(u"abc", 3);
  ASSERT_NE(text, nullptr);
  std::uint32_t byteLength = 0;
  std::memcpy(&byteLength, reinterpret_cast<const char*>(text) - 4, 4);
  EXPECT_EQ(byteLength, 6u);
  EXPECT_EQ(Str(text), u"abc");
  BstrFree(text);
  char16_t* empty = BstrAlloc(u"", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], u'\0');
  BstrFree(empty);
  BstrFree(nullptr);
}

}  // namespace
}  // namespace es::platform
