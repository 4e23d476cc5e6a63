#include <gtest/gtest.h>

#include <string>

#include "Brivel.h"
#include "CompanionTestSupport.h"
#include "Lunmere.h"

using companions_test::TestModule;

namespace {

int LocalFunction() { return 7; }

TEST(LunmereResources, ResourceHandleIsTheModuleItself) {
  int anything = 0;
  EXPECT_EQ(CLang::GetResourceHandle(&anything), &anything);
  EXPECT_EQ(CLang::GetResourceHandle(nullptr), nullptr);
}

TEST(LunmereResources, LoadsAndTruncatesLikeLoadString) {
  char16_t buffer[64];
  const int length = LunmereLoadString(TestModule(), 14048, buffer, 64);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(std::u16string(buffer), u"External Storage");

  char16_t small[5] = {u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(LunmereLoadString(TestModule(), 14048, small, 5), 4);
  EXPECT_EQ(std::u16string(small), u"Exte");
}

TEST(LunmereResources, NoCapacityWritesNothing) {
  char16_t buffer[4] = {u'x', u'y', u'z', 0};
  EXPECT_EQ(LunmereLoadString(TestModule(), 14048, buffer, 0), 0);
  EXPECT_EQ(LunmereLoadString(TestModule(), 14048, buffer, -3), 0);
  EXPECT_EQ(std::u16string(buffer), u"xyz");
}

TEST(LunmereResources, MissingStringGivesZero) {
  char16_t buffer[16] = {};
  EXPECT_EQ(LunmereLoadString(TestModule(), 4242, buffer, 16), 0);
}

TEST(LunmereResources, ModuleFromAddressFindsTheCallersModule) {
  EXPECT_EQ(LunmereModuleFromAddress(reinterpret_cast<const void*>(&LocalFunction)), TestModule());
  // Static data of another library belongs to that library, not to the test program.
  EXPECT_NE(LunmereModuleFromAddress(GetAppName()), TestModule());
  int onTheStack = 0;
  EXPECT_EQ(LunmereModuleFromAddress(&onTheStack), nullptr);
}

#ifndef _WIN32
TEST(LunmereResources, UnregisteredHandleServesNoStrings) {
  LunmereModule stranger{kLunmereMagic, reinterpret_cast<const void*>(&LocalFunction), nullptr};
  char16_t buffer[16] = {};
  EXPECT_EQ(LunmereLoadString(&stranger, 14048, buffer, 16), 0);
  int notAModule = 0;
  EXPECT_EQ(LunmereLoadString(&notAModule, 14048, buffer, 16), 0);
}

TEST(LunmereResources, UnregisteringForgetsTheModule) {
  // A second record for the same object: found only while it is registered.
  auto serve = [](std::uint32_t, char16_t* buffer, int) {
    buffer[0] = u'A';
    buffer[1] = 0;
    return 1;
  };
  LunmereModule other{kLunmereMagic, reinterpret_cast<const void*>(&LocalFunction), +serve};
  char16_t buffer[4] = {};
  LunmereRegisterModule(&other);
  EXPECT_EQ(LunmereLoadString(&other, 1, buffer, 4), 1);
  LunmereUnregisterModule(&other);
  EXPECT_EQ(LunmereLoadString(&other, 1, buffer, 4), 0);
  EXPECT_EQ(LunmereModuleFromAddress(reinterpret_cast<const void*>(&LocalFunction)), TestModule());
}
#endif

}  // namespace
