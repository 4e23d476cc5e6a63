// Loading the built module the way a host does, from a folder holding only what ships.
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/BuildTree.h"
#include "tests/support/TempFolder.h"

#include "host/ModuleLoader.h"

namespace fs = std::filesystem;

namespace {

using estest::BinFolder;

TEST(ModuleLoad, FromAFolderWithOnlyTheModuleAndItsCompanions) {
  const estest::TempFolder folder("es-clean");
  const fs::path moduleFile = folder / estest::ModuleFile().filename();
  fs::copy_file(estest::ModuleFile(), moduleFile);
  for (const char* companion : {"Tessard", "Lunmere", "Brivel", "Quillet", "Pictorn"}) {
    const fs::path file = BinFolder() / (companion + estest::ModuleFile().extension().string());
    if (fs::exists(file)) fs::copy_file(file, folder / file.filename());
  }

  eshost::LoadedModule module;
  std::string error;
  ASSERT_TRUE(module.Load(moduleFile.string(), &error)) << error;
  IElementFactory* factory = nullptr;
  EXPECT_EQ(1, module.Entry()(1, &factory));
  ASSERT_NE(nullptr, factory);
  char16_t name[64] = {};
  EXPECT_EQ(kS_OK, factory->GetDisplayName(name, 64));
  EXPECT_EQ(std::u16string(u"External Storage"), name) << "strings come from the module's own resources";
  EXPECT_NE(nullptr, factory->GetIcon());
  factory->DeleteThis();
  module.Unload();
}

}  // namespace
