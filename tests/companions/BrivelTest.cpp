#include <gtest/gtest.h>

#include <string>

#include "Brivel.h"
#include "CompanionTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace companions_test;

namespace {

void* const kOwner = reinterpret_cast<void*>(0x2A0);

TEST(BrivelBoxes, MessageBoxIdShowsTheCallersString) {
  TestModule();
  BoxCapture capture(7);
  EXPECT_EQ(MessageBoxId(kOwner, 14053, 16), 7);
  EXPECT_EQ(MessageBoxId(kOwner, 14066, 16), 7);
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].op, "MessageBoxId");
  EXPECT_EQ(boxes[0].owner, kOwner);
  EXPECT_EQ(boxes[0].id, 14053u);
  EXPECT_EQ(boxes[0].text, u"Document Group is not available.");
  EXPECT_EQ(boxes[0].style, 16u);
  EXPECT_EQ(boxes[1].text,
            u"There are less pages  in the next scanned document than specified in the attributes file.");
}

TEST(BrivelBoxes, MessageBoxIdOfAMissingString) {
  TestModule();
  BoxCapture capture(1);
  MessageBoxId(kOwner, 4242, 16);
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"[string 4242]");
}

TEST(BrivelBoxes, MessageBoxTextReachesThePresenter) {
  BoxCapture capture(2);
  const std::u16string report = u"The following pages from document\nDoc1\nare damaged:\n3.pg";
  EXPECT_EQ(MessageBoxText(kOwner, report.c_str(), 16), 2);
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].op, "MessageBoxText");
  EXPECT_EQ(boxes[0].owner, kOwner);
  EXPECT_EQ(boxes[0].id, 0u);
  EXPECT_EQ(boxes[0].text, report);
  EXPECT_EQ(boxes[0].style, 16u);
}

TEST(BrivelBoxes, ContextHelpReachesThePresenter) {
  BoxCapture capture(1);
  EXPECT_EQ(ShowContextHelp(kOwner, 145152, 0), 1);
  const auto boxes = capture.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].op, "ShowContextHelp");
  EXPECT_EQ(boxes[0].owner, kOwner);
  EXPECT_EQ(boxes[0].id, 145152u);
  EXPECT_EQ(boxes[0].text, u"Help topic 145152");
}

TEST(BrivelBoxes, ApplicationNameIsStatic) {
  EXPECT_EQ(std::u16string(GetAppName()), u"External Storage Input");
  EXPECT_EQ(GetAppName(), GetAppName());
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
  using AppNameFn = const char16_t* (*)();
  auto appName = reinterpret_cast<AppNameFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(103))));
  ASSERT_NE(appName, nullptr);
  EXPECT_EQ(appName(), GetAppName());

  BoxCapture capture(5);
  using TextFn = int (*)(void*, const char16_t*, std::uint32_t);
  using IdFn = int (*)(void*, std::uint32_t, std::uint32_t);
  using HelpFn = int (*)(void*, std::uint32_t, std::int32_t);
  auto text = reinterpret_cast<TextFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(101))));
  auto id = reinterpret_cast<IdFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(102))));
  auto help = reinterpret_cast<HelpFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(110))));
  ASSERT_NE(text, nullptr);
  ASSERT_NE(id, nullptr);
  ASSERT_NE(help, nullptr);
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
