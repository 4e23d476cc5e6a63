// Attaches the core linked into a test binary as the module would be attached on load:
// every test program that includes this header runs its tests attached.
#pragma once

#include <gtest/gtest.h>

#include "frame/App.h"
#include "platform/Platform.h"

namespace estest {
class ModuleAttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};
inline ::testing::Environment* const kModuleAttached = ::testing::AddGlobalTestEnvironment(new ModuleAttachEnvironment);
}  // namespace estest
