#include <gtest/gtest.h>

#include <string>

#include "CompanionTestSupport.h"

using companions_test::TestModule;

namespace {

int LocalFunction() { return 7; }

TEST(LunmereResources, LoadsLikeLoadString) {
  int anything = 0;
  EXPECT_EQ(CLang::GetResourceHandle(&anything), &anything) << "the module is its own resource module";
  EXPECT_EQ(CLang::GetResourceHandle(nullptr), nullptr);
  const struct {
    const char* name;
    std::uint32_t id;
    int capacity, length;
    const char16_t* buffer;  // the buffer of 5 units '#' afterwards; null: not checked
  } rows[] = {
      {"whole", 14048, 64, 16, u"External Storage"},
      {"truncated, terminated", 14048, 5, 4, u"Exte"},
      {"missing", 4242, 5, 0, nullptr},
      {"no capacity", 14048, 0, 0, u"#####"},
      {"negative capacity", 14048, -3, 0, u"#####"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    char16_t buffer[64] = {u'#', u'#', u'#', u'#', u'#', 0};
    EXPECT_EQ(LunmereLoadString(TestModule(), row.id, buffer, row.capacity), row.length);
    if (row.buffer != nullptr) { EXPECT_EQ(std::u16string(buffer), row.buffer); }
  }
}

TEST(LunmereResources, ModuleFromAddressFindsTheCallersModule) {
  EXPECT_EQ(LunmereModuleFromAddress(reinterpret_cast<const void*>(&LocalFunction)), TestModule());
  // Static data of another library belongs to that library, not to the test program.
  EXPECT_NE(LunmereModuleFromAddress(GetAppName()), TestModule());
  int onTheStack = 0;
  EXPECT_EQ(LunmereModuleFromAddress(&onTheStack), nullptr);
}

#ifndef _WIN32
TEST(LunmereResources, OnlyRegisteredModulesServeStrings) {
  char16_t buffer[16] = {};
  LunmereModule stranger{kLunmereMagic, reinterpret_cast<const void*>(&LocalFunction), nullptr};
  EXPECT_EQ(LunmereLoadString(&stranger, 14048, buffer, 16), 0);
  int notAModule = 0;
  EXPECT_EQ(LunmereLoadString(&notAModule, 14048, buffer, 16), 0);
  // A second record for the same object: found only while it is registered.
  auto serve = [](std::uint32_t, char16_t* out, int) {
    out[0] = u'A';
    out[1] = 0;
    return 1;
  };
  LunmereModule other{kLunmereMagic, reinterpret_cast<const void*>(&LocalFunction), +serve};
  LunmereRegisterModule(&other);
  EXPECT_EQ(LunmereLoadString(&other, 1, buffer, 4), 1);
  LunmereUnregisterModule(&other);
  EXPECT_EQ(LunmereLoadString(&other, 1, buffer, 4), 0);
  EXPECT_EQ(LunmereModuleFromAddress(reinterpret_cast<const void*>(&LocalFunction)), TestModule());
}
#endif

}  // namespace
