// Shared pieces of the dialog tests: the core attached as the module would be (once for
// the program), and environment variables.
#pragma once

#include <cstdlib>
#include <string>

#include "base/ModuleState.h"
#include "tests/frame/ModuleAttachEnvironment.h"
#include "ui/HeadlessView.h"

namespace uitest {

inline void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

}  // namespace uitest
