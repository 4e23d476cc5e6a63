// Shared pieces of the dialog tests: the core attached as the module would be (once for
// the program), and environment variables.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "frame/App.h"
#include "base/ModuleState.h"
#include "platform/Platform.h"
#include "ui/HeadlessView.h"

namespace uitest {

struct AttachEnvironment : ::testing::Environment {
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};
inline ::testing::Environment* const kAttach = ::testing::AddGlobalTestEnvironment(new AttachEnvironment);

inline void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

}  // namespace uitest
