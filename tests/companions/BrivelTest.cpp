#include <gtest/gtest.h>

#include <string>

#include "CompanionTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace companions_test;

namespace {

void* const kOwner = reinterpret_cast<void*>(0x2A0);

TEST(BrivelBoxes, EveryBoxReachesThePresenterWithItsText) {
  TestModule();
  BoxCapture capture(7);
  const std::u16string report = u"The following pages from document\nDoc1\nare damaged:\n3.pg";
  EXPECT_EQ(MessageBoxId(kOwner, 14053, 16), 7);
  EXPECT_EQ(MessageBoxId(kOwner, 14066, 48), 7);
  EXPECT_EQ(MessageBoxId(kOwner, 4242, 16), 7);
  EXPECT_EQ(MessageBoxText(kOwner, report.c_str(), 16), 7);
  EXPECT_EQ(ShowContextHelp(kOwner, 145152, 0), 7);
  const struct {
    const char* op;
    std::uint32_t id;
    std::u16string text;
    std::uint32_t style;
  } expected[] = {
      {"MessageBoxId", 14053, u"Document Group is not available.", 16},
      {"MessageBoxId", 14066,
       u"There are less pages  in the next scanned document than specified in the attributes file.", 48},
      {"MessageBoxId", 4242, u"[string 4242]", 16},
      {"MessageBoxText", 0, report, 16},
      {"ShowContextHelp", 145152, u"Help topic 145152", 0},
  };
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), std::size(expected));
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(boxes[i].op, expected[i].op);
    EXPECT_EQ(boxes[i].owner, kOwner);
    EXPECT_EQ(boxes[i].id, expected[i].id);
    EXPECT_EQ(boxes[i].text, expected[i].text);
    EXPECT_EQ(boxes[i].style, expected[i].style);
  }
  EXPECT_EQ(std::u16string(GetAppName()), u"External Storage Input");
  EXPECT_EQ(GetAppName(), GetAppName()) << "a static text";
}

TEST(BrivelBoxes, WithoutPresenterABoxIsALineOnStderr) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows shows a real, modal message box";
#else
  BrivelSetPresenter(nullptr, nullptr);
  testing::internal::CaptureStderr();
  const int button = MessageBoxText(kOwner, u"Gr\u00fc\u00dfe\tfrom the import\x1b[2J", 16);
  ShowContextHelp(kOwner, 145154, 0);
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_EQ(button, 1);
  EXPECT_EQ(written, "message box: Gr\xC3\xBC\xC3\x9F" "e\\x09from the import\\x1b[2J\ncontext help: Help topic 145154\n");
#endif
}

TEST(BrivelBoxes, OperationsKeepTheirOrdinals) {
#ifndef _WIN32
  GTEST_SKIP() << "ordinals exist only in Windows export tables";
#else
  HMODULE library = GetModuleHandleW(L"Brivel.dll");
  ASSERT_NE(library, nullptr);
  auto ordinal = [&](int n) { return reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(n))); };
  auto appName = reinterpret_cast<const char16_t* (*)()>(ordinal(103));
  auto text = reinterpret_cast<int (*)(void*, const char16_t*, std::uint32_t)>(ordinal(101));
  auto id = reinterpret_cast<int (*)(void*, std::uint32_t, std::uint32_t)>(ordinal(102));
  auto help = reinterpret_cast<int (*)(void*, std::uint32_t, std::int32_t)>(ordinal(110));
  ASSERT_TRUE(appName != nullptr && text != nullptr && id != nullptr && help != nullptr);
  EXPECT_EQ(appName(), GetAppName());
  BoxCapture capture(5);
  EXPECT_EQ(text(kOwner, u"t", 16), 5);
  EXPECT_EQ(id(kOwner, 14053, 16), 5);
  EXPECT_EQ(help(kOwner, 145153, 0), 5);
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].op, "MessageBoxText");
  EXPECT_EQ(boxes[1].op, "MessageBoxId");
  EXPECT_EQ(boxes[1].text, u"Document Group is not available.");
  EXPECT_EQ(boxes[2].op, "ShowContextHelp");
#endif
}

}  // namespace
