#include <gtest/gtest.h>

#include <string>

#include "CompanionTestSupport.h"
#include "tests/support/Capture.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace companions_test;

namespace {

void* const kOwner = reinterpret_cast<void*>(0x2A0);

// The boxes shown, as "operation id style: text" for the owner kOwner (the texts here are ASCII).
std::vector<std::string> Describe(const estest::MessageCapture& capture) {
  std::vector<std::string> out;
  for (const auto& box : capture.boxes) {
    out.push_back((box.owner == kOwner ? "" : "other owner: ") + box.op + " " + std::to_string(box.id) + " " +
                  std::to_string(box.style) + ": " + std::string(box.text.begin(), box.text.end()));
  }
  return out;
}

TEST(BrivelBoxes, EveryBoxReachesThePresenterWithItsText) {
  TestModule();
  estest::MessageCapture capture(7);
  const std::u16string report = u"The following pages from document\nDoc1\nare damaged:\n3.pg";
  EXPECT_EQ(MessageBoxId(kOwner, 14053, 16), 7);
  EXPECT_EQ(MessageBoxId(kOwner, 14066, 48), 7);
  EXPECT_EQ(MessageBoxId(kOwner, 4242, 16), 7);
  EXPECT_EQ(MessageBoxText(kOwner, report.c_str(), 16), 7);
  EXPECT_EQ(ShowContextHelp(kOwner, 145152, 0), 7);
  EXPECT_EQ(Describe(capture), (std::vector<std::string>{
                       "MessageBoxId 14053 16: Document Group is not available.",
                       "MessageBoxId 14066 48: There are less pages  in the next scanned document than specified in "
                       "the attributes file.",
                       "MessageBoxId 4242 16: [string 4242]",
                       "MessageBoxText 0 16: The following pages from document\nDoc1\nare damaged:\n3.pg",
                       "ShowContextHelp 145152 0: Help topic 145152",
                   }));
  EXPECT_EQ(std::u16string(GetAppName()), u"External Storage Input");
  EXPECT_EQ(GetAppName(), GetAppName()) << "a static text";
}

#ifndef _WIN32
// On Windows a real, modal message box would show.
TEST(BrivelBoxes, WithoutPresenterABoxIsALineOnStderr) {
  BrivelSetPresenter(nullptr, nullptr);
  testing::internal::CaptureStderr();
  const int button = MessageBoxText(kOwner, u"Gr\u00fc\u00dfe\tfrom the import\x1b[2J", 16);
  ShowContextHelp(kOwner, 145154, 0);
  EXPECT_EQ(button, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "message box: Gr\xC3\xBC\xC3\x9F" "e\\x09from the import\\x1b[2J\ncontext help: Help topic 145154\n");
}
#else
TEST(BrivelBoxes, OperationsKeepTheirOrdinals) {
  HMODULE library = GetModuleHandleW(L"Brivel.dll");
  ASSERT_NE(library, nullptr);
  auto ordinal = [&](int n) { return reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(n))); };
  auto appName = reinterpret_cast<const char16_t* (*)()>(ordinal(103));
  auto text = reinterpret_cast<int (*)(void*, const char16_t*, std::uint32_t)>(ordinal(101));
  auto id = reinterpret_cast<int (*)(void*, std::uint32_t, std::uint32_t)>(ordinal(102));
  auto help = reinterpret_cast<int (*)(void*, std::uint32_t, std::int32_t)>(ordinal(110));
  ASSERT_TRUE(appName != nullptr && text != nullptr && id != nullptr && help != nullptr);
  EXPECT_EQ(appName(), GetAppName());
  estest::MessageCapture capture(5);
  EXPECT_EQ(text(kOwner, u"t", 16), 5);
  EXPECT_EQ(id(kOwner, 14053, 16), 5);
  EXPECT_EQ(help(kOwner, 145153, 0), 5);
  EXPECT_EQ(Describe(capture), (std::vector<std::string>{"MessageBoxText 0 16: t",
                                                         "MessageBoxId 14053 16: Document Group is not available.",
                                                         "ShowContextHelp 145153 0: Help topic 145153"}));
}
#endif

}  // namespace
