// Shared pieces of the dialog tests: the core attached as the module would be, storages
// in a temporary folder, environment variables, and the texts of the module's strings.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "frame/App.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "tests/platform/TempFolder.h"
#include "ui/DialogView.h"
#include "ui/HeadlessView.h"

namespace uitest {

using es::Str;

class AttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};

// A temporary folder holding storage directories.
class Storages {
 public:
  // A storage directory `name`; with a description file when `description` is given.
  Str Add(const std::string& name, const std::string* description = nullptr) {
    std::filesystem::create_directories(folder_.Root() / name);
    if (description != nullptr) folder_.Write(std::filesystem::path(name) / "ESDesc.txt", *description);
    return Dir(name);
  }
  Str Add(const std::string& name, const std::string& description) { return Add(name, &description); }
  Str Dir(const std::string& name) const { return folder_.Path(es::FromUtf8(name)); }
  Str Root() const { return folder_.Path(); }
  void WriteFile(const std::string& name, const std::string& bytes) { folder_.Write(name, bytes); }

 private:
  es::platform::testing::TempFolder folder_;
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
