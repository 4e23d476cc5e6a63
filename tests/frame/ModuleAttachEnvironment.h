// Attaches the core linked into a test binary as the module would be attached on load.
#pragma once

#include <gtest/gtest.h>

#include "frame/App.h"
#include "platform/Platform.h"

namespace estest {
class ModuleAttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};
}  // namespace estest
