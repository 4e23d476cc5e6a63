// Shared pieces of the dialog tests: the core attached as the module would be, and
// environment variables.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "frame/App.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "ui/DialogView.h"
#include "ui/HeadlessView.h"

namespace uitest {

using es::Str;

class AttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};

inline void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline std::string U8(const Str& text) { return es::ToUtf8(text); }

}  // namespace uitest
